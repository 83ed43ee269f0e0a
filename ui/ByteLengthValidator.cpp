#include "ByteLengthValidator.h"

namespace qz {

namespace {

int byteLength(const QString& text)
{
    return static_cast<int>(text.toLocal8Bit().size());
}

} // namespace

ByteLengthValidator::ByteLengthValidator(int maxBytes, QObject* parent)
    : QValidator(parent)
    , maxBytes_(maxBytes)
{
}

QValidator::State ByteLengthValidator::validate(QString& input, int& pos) const
{
    // Drop characters just before the cursor, the end of what was just inserted, until the
    // text fits; a surrogate pair goes as one character.
    while (byteLength(input) > maxBytes_ && pos > 0) {
        int width = 1;
        if (pos >= 2 && input.at(pos - 1).isLowSurrogate() && input.at(pos - 2).isHighSurrogate())
            width = 2;
        input.remove(pos - width, width);
        pos -= width;
    }
    return byteLength(input) > maxBytes_ ? Invalid : Acceptable;
}

} // namespace qz
