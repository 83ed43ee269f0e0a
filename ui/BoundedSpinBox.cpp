#include "BoundedSpinBox.h"

#include "FieldMark.h"

#include <QLineEdit>

#include <algorithm>

namespace qz {

namespace {

// More digits than this is no timeout or count anybody means; the key is refused.
constexpr int longestNumber = 9;

} // namespace

BoundedSpinBox::BoundedSpinBox(QWidget* parent)
    : QSpinBox(parent)
    , mark_(new FieldMark(lineEdit()))
{
    mark_->hide();
    // The line edit tells of every key; the spin box only of values it takes, and it
    // brings the text within the range with the line edit's signals blocked.
    connect(lineEdit(), &QLineEdit::textChanged, this, &BoundedSpinBox::textEdited);
    connect(this, &QAbstractSpinBox::editingFinished, this, [this] { textEdited(lineEdit()->text()); });
}

bool BoundedSpinBox::typedNumber(const QString& text, qint64& number) const
{
    QString digits = text;
    if (digits.endsWith(suffix()))
        digits.chop(suffix().size());
    digits = digits.trimmed();
    bool ok = digits.size() <= longestNumber;
    number = ok ? digits.toLongLong(&ok) : 0;
    return ok;
}

QString BoundedSpinBox::rangeWords() const
{
    return QStringLiteral("from %1 to %2%3").arg(minimum()).arg(maximum()).arg(suffix());
}

QValidator::State BoundedSpinBox::validate(QString& input, int& pos) const
{
    const QValidator::State state = QSpinBox::validate(input, pos);
    qint64 number = 0;
    // Out of range is a state on the way, not a key to refuse: 99999 may be typed.
    if (state == QValidator::Invalid && typedNumber(input, number))
        return QValidator::Intermediate;
    return state;
}

void BoundedSpinBox::fixup(QString& input) const
{
    qint64 number = 0;
    if (!typedNumber(input, number) || (number >= minimum() && number <= maximum()))
        return;
    correctedFrom_ = number;
    input = QString::number(std::clamp<qint64>(number, minimum(), maximum())) + suffix();
}

void BoundedSpinBox::textEdited(const QString& text)
{
    qint64 number = 0;
    if (correctedFrom_) {
        mark_->show(FieldMark::Notice, QStringLiteral("%1%2 is outside the range, %3: set to %4")
                                           .arg(*correctedFrom_)
                                           .arg(suffix(), rangeWords(), text));
        correctedFrom_.reset();
    } else if (typedNumber(text, number) && (number < minimum() || number > maximum())) {
        mark_->show(FieldMark::Refused, QStringLiteral("outside the range: the value is ") + rangeWords());
    } else {
        mark_->hide();
    }
}

} // namespace qz
