#pragma once

#include "AirCheck.h"
#include "SerialDriver.h"
#include "SerialLink.h"

#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class TTranscript;

// The send dialog's "Send the list": the list's commands to the one module on the port,
// each reply checked and shown as it comes, and then, if the module took them all, a
// listen over the air for what it advertises.
class TSendList : public QWidget {
    Q_OBJECT
public:
    TSendList(std::vector<std::string> commands, qz::air::Expectation expectation, TakeLink takeLink,
              QWidget* parent);
    ~TSendList() override;

    bool sending() const { return driver_.running(); }
    bool listening() const { return air_.running(); }
    // The last send ended with every command taken.
    bool setUp() const { return setUp_; }
    // The answer came: why nothing can be heard here, or empty.
    void setCannotListen(const QString& cannotListen);
    bool canListen() const { return cannotListen_.isEmpty(); }
    // Ends the send after the reply to the command in flight, or the listening at once.
    void stop();
    void stopListening() { air_.stop(); }
    // What the module's rate is after the send, when the list changed it.
    int rateNow() const { return driver_.baudRate(); }

    QPlainTextEdit* memCommands;
    QProgressBar* pbProgress;
    TTranscript* tvTranscript;
    QLabel* lbVerdict;
    QPushButton* btnVerify;
    QPushButton* btnSend;
    QPushButton* btnStop;

signals:
    // Sending or listening began or ended: what the dialog lets be used has changed.
    void changed();
    // The module's rate is now this, as the list left it.
    void rateChanged(int baudRate);

private:
    void send();
    void verify();
    void showExchange(const qz::serial::Exchange& exchange);
    void showVerdict(const qz::serial::Verdict& verdict);
    void showHeard(const qz::air::Verdict& verdict);
    void showCannotListen(const std::string& why);
    void explainVerify();

    std::vector<std::string> commands_;
    qz::air::Expectation expectation_; // what the module must then be heard advertising
    TakeLink takeLink_;
    qz::SerialDriver driver_;
    QString cannotListen_; // why it cannot be heard here, or empty
    bool setUp_ = false;
    int baudRate_ = 0;     // the rate the send began at
    qz::AirCheck air_;
    QTimer listenTick_;
    int listenSeconds_ = 0;
};
