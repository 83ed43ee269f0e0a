#include "main.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // Docks and Wayland compositors match the windows to the menu entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.kavrel.ConfigAssistant"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/example.kavrel.ConfigAssistant.png")));
    TfrmMain frmMain;
    frmMain.show();
    return application.exec();
}
