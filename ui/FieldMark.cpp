#include "FieldMark.h"

#include <QAction>
#include <QLineEdit>
#include <QStyle>

namespace qz {

namespace {

QStyle::StandardPixmap iconOf(FieldMark::Kind kind)
{
    switch (kind) {
    case FieldMark::Notice: return QStyle::SP_MessageBoxInformation;
    case FieldMark::Refused: return QStyle::SP_MessageBoxWarning;
    case FieldMark::Taken: break;
    }
    return QStyle::SP_DialogApplyButton;
}

} // namespace

FieldMark::FieldMark(QLineEdit* edit, QString hint)
    : QObject(edit)
    , edit_(edit)
    , action_(new QAction(edit))
    , hint_(std::move(hint))
{
    action_->setObjectName(edit->objectName() + QStringLiteral("Mark"));
    action_->setVisible(false);
    edit->addAction(action_, QLineEdit::TrailingPosition);
}

void FieldMark::show(Kind kind, const QString& explanation)
{
    action_->setIcon(edit_->style()->standardIcon(iconOf(kind)));
    // Lines of a decoded package line up in columns, so a tooltip of several lines keeps
    // them in a fixed-width font.
    action_->setToolTip(explanation.contains(QLatin1Char('\n'))
                            ? QStringLiteral("<pre>") + explanation.toHtmlEscaped() + QStringLiteral("</pre>")
                            : explanation);
    action_->setVisible(true);
    edit_->setAccessibleDescription(explanation);
}

void FieldMark::clear()
{
    action_->setVisible(false);
    action_->setToolTip({});
    edit_->setAccessibleDescription(hint_);
}

} // namespace qz
