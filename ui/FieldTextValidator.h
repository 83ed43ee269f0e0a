#pragma once

#include <QValidator>

namespace qz {

// Keeps an edit's text to what one line of a field can hold:
// - a line break that comes in with pasted text becomes a space, so that what the field
//   shows and what it holds are the same;
// - the text stays within a number of bytes in the local 8-bit encoding, so that a
//   character that takes two bytes counts as two. What is typed or pasted past the limit
//   is cut off at its end, at the caret, as the edit's own maximum length does.
class FieldTextValidator : public QValidator {
public:
    FieldTextValidator(int maxBytes, QObject* parent);

    State validate(QString& input, int& pos) const override;

private:
    int maxBytes_;
};

} // namespace qz
