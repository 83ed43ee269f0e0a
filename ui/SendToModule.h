#pragma once

#include "SerialDriver.h"

#include <QDialog>
#include <QStringList>

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class QTreeWidgetItem;

// The modal dialog that sends a list's commands to the module over a serial port and
// shows each exchange as it happens. The exchange runs on events: the window never waits.
// Its choices (port, rate, line ending, timeout) are kept in the user's settings.
class TfrmSend : public QDialog {
    Q_OBJECT
public:
    TfrmSend(const std::vector<std::string>& commands, QWidget* owner);

    // The transcript as qzconfig prints it: "> CMD", "< REPLY" or "< (no reply)", and the
    // verdict once there is one.
    QString transcriptText() const;

    QComboBox* cbPort;
    QPushButton* btnRefresh;
    QComboBox* cbBaud;
    QComboBox* cbLineEnding;
    QSpinBox* spnTimeout;
    QPlainTextEdit* memCommands;
    QProgressBar* pbProgress;
    QTreeWidget* tvTranscript;
    QLabel* lbVerdict;
    QPushButton* btnCopy;
    QPushButton* btnSave;
    QPushButton* btnSend;
    QPushButton* btnStop;
    QPushButton* btnClose;

protected:
    // Esc, the close box and Close all end here: during a session the user is asked
    // whether to stop it, and the dialog closes once it has stopped.
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void btnRefreshClick();
    void btnSendClick();
    void btnStopClick();
    void btnCopyClick();
    void btnSaveClick();

private:
    void showExchange(const qz::serial::Exchange& exchange);
    void showVerdict(const qz::serial::Verdict& verdict);
    void setSending(bool sending);
    void restoreChoices();
    void keepChoices() const;
    void copySelection() const;
    std::string chosenPort() const;

    std::vector<std::string> commands_;
    qz::SerialDriver driver_;
    QTreeWidgetItem* waitingFor_ = nullptr;
    QStringList transcript_;
    QString verdictLine_;
    bool closeWhenFinished_ = false;
};
