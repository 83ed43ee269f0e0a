#include "FieldMark.h"

#include <QAction>
#include <QLineEdit>
#include <QStringList>
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

// A tooltip line wider than this is broken, so that a 31-byte package's lines stay on a
// 1280-pixel screen in the fixed-width font.
constexpr int tooltipColumns = 100;

// Breaks each line longer than tooltipColumns at its last space before the limit (or at
// the limit), continuing four columns further in than the line began.
QString wrappedLines(const QString& text)
{
    QStringList lines;
    for (QString line : text.split(QLatin1Char('\n'))) {
        int indent = 0;
        while (indent < line.size() && line.at(indent) == QLatin1Char(' '))
            ++indent;
        const QString continuation(indent + 4, QLatin1Char(' '));
        while (line.size() > tooltipColumns) {
            int cut = line.lastIndexOf(QLatin1Char(' '), tooltipColumns);
            if (cut <= continuation.size()) // no space to break at past the indent
                cut = tooltipColumns;
            lines << line.left(cut);
            line = continuation + line.mid(cut).trimmed();
        }
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

FieldMark::FieldMark(QLineEdit* edit)
    : QObject(edit)
    , edit_(edit)
    , action_(new QAction(edit))
{
    action_->setObjectName(edit->objectName() + QStringLiteral("Mark"));
    edit->addAction(action_, QLineEdit::TrailingPosition);
}

void FieldMark::show(Kind kind, const QString& explanation)
{
    action_->setIcon(edit_->style()->standardIcon(iconOf(kind)));
    // Lines of a decoded package line up in columns, so a tooltip of several lines keeps
    // them in a fixed-width font.
    action_->setToolTip(explanation.contains(QLatin1Char('\n'))
                            ? QStringLiteral("<pre>") + wrappedLines(explanation).toHtmlEscaped() + QStringLiteral("</pre>")
                            : explanation);
    action_->setVisible(true);
    edit_->setAccessibleDescription(explanation);
}

void FieldMark::hide()
{
    action_->setVisible(false);
    action_->setToolTip({});
    edit_->setAccessibleDescription({});
}

} // namespace qz
