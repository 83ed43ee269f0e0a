#include "main.h"
#include "RecordDatabase.h"

#include <QApplication>
#include <QIcon>

#include <cstdlib>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // Docks and Wayland compositors match the windows to the menu entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.kavrel.ConfigAssistant"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/example.kavrel.ConfigAssistant.png")));
    TfrmMain frmMain;
    frmMain.show();
    const int status = application.exec();
    // A call to the record's server that was given up may still hold a thread: the program
    // ends without tearing down what that thread uses.
    if (qz::RecordDatabase::AnyCallAbandoned())
        std::_Exit(status);
    return status;
}
