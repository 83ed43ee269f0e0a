#include "Notice.h"

#include "Vendor.h"
#include "WindowStyle.h"

#include <QMessageBox>

namespace qz {

void ShowNotice(QWidget* owner, const std::string& message)
{
    QMessageBox box(QMessageBox::Information, fromBytes(std::string(NoticeCaption)), fromBytes(message),
                    QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.setObjectName(QStringLiteral("Notice"));
    box.exec();
}

} // namespace qz
