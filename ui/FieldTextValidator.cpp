#include "FieldTextValidator.h"

namespace qz {

namespace {

int byteLength(const QString& text)
{
    return static_cast<int>(text.toLocal8Bit().size());
}

// CR LF, CR and LF each become one space; pos follows the text it stood after.
void lineBreaksToSpaces(QString& input, int& pos)
{
    for (int i = 0; i < input.size(); ++i) {
        if (input.at(i) != QLatin1Char('\r') && input.at(i) != QLatin1Char('\n'))
            continue;
        const bool pair = input.at(i) == QLatin1Char('\r') && i + 1 < input.size() && input.at(i + 1) == QLatin1Char('\n');
        if (pair) {
            input.remove(i + 1, 1);
            // The caret never stands between the two: they arrive in one paste, and no
            // line break stays in the text to meet one pasted later.
            if (pos > i + 1)
                --pos;
        }
        input[i] = QLatin1Char(' ');
    }
}

} // namespace

FieldTextValidator::FieldTextValidator(int maxBytes, QObject* parent)
    : QValidator(parent)
    , maxBytes_(maxBytes)
{
}

QValidator::State FieldTextValidator::validate(QString& input, int& pos) const
{
    lineBreaksToSpaces(input, pos);
    // Drop characters just before the cursor, the end of what was just inserted, until the
    // text fits; a surrogate pair goes as one character.
    // The text was within the limit before this edit, so the caret never reaches 0 here.
    while (byteLength(input) > maxBytes_ && pos > 0) {
        int width = 1;
        // In valid UTF-16 a low surrogate always follows a high one, so either test alone
        // would do; both are kept as the pair's definition.
        if (pos >= 2 && input.at(pos - 1).isLowSurrogate() && input.at(pos - 2).isHighSurrogate())
            width = 2;
        input.remove(pos - width, width);
        pos -= width;
    }
    return byteLength(input) > maxBytes_ ? Invalid : Acceptable;
}

} // namespace qz
