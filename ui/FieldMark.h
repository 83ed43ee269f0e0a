#pragma once

#include <QObject>
#include <QString>

class QAction;
class QLineEdit;

namespace qz {

// A small mark at the right end of an edit that says how its text will be read. Its
// tooltip and the edit's accessible description carry the explanation.
class FieldMark : public QObject {
public:
    enum Kind { Taken, Notice, Refused };

    // The mark shows once show() has said what it shows, until hide().
    explicit FieldMark(QLineEdit* edit);

    void show(Kind kind, const QString& explanation);
    void hide();

private:
    QLineEdit* edit_;
    QAction* action_;
};

} // namespace qz
