#pragma once

#include <QSpinBox>

#include <optional>

namespace qz {

class FieldMark;

// A spin box that takes a number typed outside its range instead of refusing the key or
// reverting to the old value without a word: when the user leaves it, the number becomes
// the nearest end of the range, and its mark says the range and what was set. It has a
// suffix ("ms") and no prefix.
class BoundedSpinBox : public QSpinBox {
public:
    explicit BoundedSpinBox(QWidget* parent = nullptr);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

private:
    // The number typed, whatever the range; none while the text holds no number.
    bool typedNumber(const QString& text, qint64& number) const;
    QString rangeWords() const;
    void textEdited(const QString& text);

    FieldMark* mark_;
    mutable std::optional<qint64> correctedFrom_; // the number fixup() brought into the range
};

} // namespace qz
