#pragma once

#include "SendSession.h"

#include <QStringList>
#include <QTreeWidget>

#include <initializer_list>
#include <map>
#include <string>

class QHBoxLayout;
class QPushButton;

// A tool's transcript: each command sent beside the module's reply, and the lines that
// are no exchange (a module's heading, what was heard over the air). It copies and saves
// as qzconfig prints it: "> CMD", "< REPLY", then the verdict once there is one.
class TTranscript : public QTreeWidget {
    Q_OBJECT
public:
    // tool: the page its Copy and Save buttons go on; what names them ("", "Batch", "Console").
    TTranscript(QWidget* tool, const QString& what);

    // Starts afresh for a new session.
    void restart();
    // An exchange on port (empty: the only one), its line prefixed as given.
    void showExchange(const qz::serial::Exchange& exchange, const std::string& port, const QString& prefix = {});
    void showLines(const QStringList& lines);
    // The command port waited on got no reply: the session stopped, or the port failed.
    void markUnanswered(const std::string& port, qz::serial::Ending ending);
    // The session's last line; a new line of the transcript moves it before itself.
    void setVerdictLine(const QString& line) { verdictLine_ = line; }
    QString text() const;
    // The tool's row of buttons: Copy and Save at its left, the tool's own at its right.
    QHBoxLayout* buttonRow(std::initializer_list<QPushButton*> toolButtons) const;

    QPushButton* btnCopy;
    QPushButton* btnSave;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void copySelection() const;
    void save();

    QStringList lines_;
    QString verdictLine_;
    std::map<std::string, QTreeWidgetItem*> waitingFor_; // the command each port waits on
};
