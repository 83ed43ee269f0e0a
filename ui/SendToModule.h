#pragma once

#include "AirCheck.h"
#include "ConsolePart.h"
#include "PageValues.h"
#include "SerialDriver.h"
#include "SeveralModules.h"

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <map>
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
// Its choices (port, rate, line ending, timeout) are kept in the user's settings. With
// "Several modules" it sets up one module after another, on one or more ports, each with
// its own values (a counted field, or the rows of a CSV file), and records each.
class TfrmSend : public QDialog {
    Q_OBJECT
public:
    TfrmSend(const std::vector<std::string>& commands, QWidget* owner, PageValues page = {});
    ~TfrmSend() override;

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

    TSeveralModules* gbSeveral;
    TConsolePart* gbConsole;
    QPushButton* btnNextModule;
    QPushButton* btnVerify;

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
    void btnNextModuleClick();
    void btnVerifyClick();

private:
    // counts: the exchange is one of the list's, which the progress bar counts.
    void showExchange(const qz::serial::Exchange& exchange, const std::string& port, bool counts = true);
    qz::serial::SessionSettings chosenSettings() const;
    void markUnanswered(const std::string& port, const qz::serial::Verdict& verdict);
    void showModuleResult(const std::string& port, const qz::serial::Verdict& verdict);
    QString portPrefix(const std::string& port) const;
    void showVerdict(const qz::serial::Verdict& verdict);
    void describeControls();
    void setSending(bool sending);
    void restoreChoices();
    void keepChoices() const;
    void copySelection() const;
    std::string chosenPort() const;
    bool running() const;
    void showHeading(const QString& heading);
    void showBatchProgress(int setUp, int total);
    void showBatchStatus(const QString& words);
    void showBatchFinished(const QString& verdictLine);
    void finishClosing();
    void showHeard(const qz::air::Verdict& verdict);
    void showLines(const QStringList& lines);
    void enableVerify();

    std::vector<std::string> commands_;
    qz::SerialDriver driver_;
    std::map<std::string, QTreeWidgetItem*> waitingFor_; // the command each port waits on
    QStringList transcript_;
    QString verdictLine_;
    bool closeWhenFinished_ = false;
    bool leavingLink_ = false; // closing: the link the module holds ends first
    bool batch_ = false; // the session in progress, or the last, set up several modules
    qz::air::Expectation expectation_; // what the module must then be heard advertising
    QString cannotListen_;             // why it cannot be heard here, or empty
    bool setUp_ = false;               // the last single session ended well
    qz::AirCheck air_;
    QTimer listenTick_;
    int listenSeconds_ = 0;
};
