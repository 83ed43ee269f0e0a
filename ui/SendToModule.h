#pragma once

#include "SerialDriver.h"

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The modal dialog that sends a list's commands to the module over a serial port and
// shows each exchange as it happens. The exchange runs on events: the window never waits.
class TfrmSend : public QDialog {
    Q_OBJECT
public:
    TfrmSend(const std::vector<std::string>& commands, QWidget* owner);

    QComboBox* cbPort;
    QPushButton* btnRefresh;
    QComboBox* cbBaud;
    QComboBox* cbLineEnding;
    QPlainTextEdit* memCommands;
    QProgressBar* pbProgress;
    QTreeWidget* tvTranscript;
    QLabel* lbVerdict;
    QPushButton* btnSend;
    QPushButton* btnClose;

protected:
    // Esc, the close box and Close all end here: a running session stops first.
    void reject() override;

private slots:
    void btnRefreshClick();
    void btnSendClick();

private:
    void startSession();
    void showExchange(const qz::serial::Exchange& exchange);
    void showVerdict(const qz::serial::Verdict& verdict);
    void setSending(bool sending);
    std::string chosenPort() const;
    // Asks the session to stop; true when the dialog may close now.
    bool stopBeforeClosing();

    std::vector<std::string> commands_;
    qz::SerialDriver driver_;
    QTreeWidgetItem* waitingFor_ = nullptr;
    bool closeWhenFinished_ = false;
};
