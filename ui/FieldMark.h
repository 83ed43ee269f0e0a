#pragma once

#include <QObject>
#include <QString>

class QAction;
class QLineEdit;

namespace qz {

// A small mark at the right end of an edit that says how its text will be read. Its
// tooltip and the edit's accessible description carry the explanation; without a mark
// the description is the edit's hint again.
class FieldMark : public QObject {
public:
    enum Kind { Taken, Notice, Refused };

    // The mark shows once show() or clear() has said what it shows.
    FieldMark(QLineEdit* edit, QString hint);

    void show(Kind kind, const QString& explanation);
    void clear();

private:
    QLineEdit* edit_;
    QAction* action_;
    QString hint_;
};

} // namespace qz
