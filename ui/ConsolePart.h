#pragma once

#include "ConsoleDriver.h"
#include "SerialLink.h"

#include <QStringList>
#include <QWidget>

#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class TTranscript;

// The send dialog's "Console": a line typed goes to the module and its reply joins the
// transcript, as a serial terminal would do it. For a list that makes the module a
// central, it also discovers the devices around and connects to one; once connected, what
// is typed goes to that device and what it sends is shown. The port is opened on first
// use and held until another tool takes it or the dialog closes.
class TConsolePart : public QWidget {
    Q_OBJECT
public:
    // link gives the dialog's port and settings as they stand; central says whether the
    // list makes the module a central, which discovers and connects.
    TConsolePart(TakeLink link, bool central, QWidget* parent);

    bool busy() const { return driver_.busy(); }
    bool connected() const { return driver_.connected(); }
    void stop() { driver_.stop(); }
    // Ends the link the module holds (a lone AT); busyChanged(false) follows once it is over.
    void disconnectLink();
    // Gives the port back, for a send session or as the dialog closes.
    void closePort();
    // A device of the last discovery is chosen to connect to.
    bool deviceChosen() const;

    QLineEdit* edtConsole;
    QPushButton* btnConsoleSend;
    QCheckBox* cbHex;
    QPushButton* btnDiscover;
    QPushButton* btnConnect;
    QPushButton* btnDisconnect;
    QTreeWidget* tvDevices;
    QPushButton* btnConsoleStop;
    TTranscript* tvTranscript;
    QLabel* lbStatus;

signals:
    // An operation began or ended, or the chosen device changed: what the dialog lets be
    // used has changed.
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool portReady();
    void sendLine();
    void discover();
    void connectChosen();
    void showFound(const qz::serial::FoundDevice& device);
    void showRelayed(const std::string& bytes);
    void showEnded(const qz::serial::TalkOutcome& outcome);
    void showStatus(const QString& words);
    void recall(int step);

    TakeLink link_;
    SerialLink open_; // what the port was opened with
    qz::ConsoleDriver driver_;
    QStringList history_;
    int recalled_ = 0; // history_.size() while nothing is recalled
};
