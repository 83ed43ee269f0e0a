#pragma once

#include <QValidator>

namespace qz {

// Holds an edit's text to a number of bytes in the local 8-bit encoding, so that a
// character that takes two bytes counts as two. What is typed or pasted past the limit
// is cut off at its end, as the edit's own maximum length does for characters.
class ByteLengthValidator : public QValidator {
public:
    ByteLengthValidator(int maxBytes, QObject* parent);

    State validate(QString& input, int& pos) const override;

private:
    int maxBytes_;
};

} // namespace qz
