#include "Notice.h"

#include "Vendor.h"
#include "WindowStyle.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace qz {

namespace {

// QMessageBox sizes itself to its text alone, and a short message left the caption cut
// in the title bar; the title bar also holds the window manager's buttons.
void makeRoomForCaption(QMessageBox& box)
{
    constexpr int titleBarButtons = 120;
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr)
        return;
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int width = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + titleBarButtons;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

} // namespace

void ShowNotice(QWidget* owner, const std::string& message)
{
    QMessageBox box(QMessageBox::Information, fromBytes(std::string(NoticeCaption)), fromBytes(message),
                    QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.setObjectName(QStringLiteral("Notice"));
    box.setWindowIcon(applicationIcon());
    makeRoomForCaption(box);
    centreOnDesktop(&box);
    box.exec();
}

} // namespace qz
