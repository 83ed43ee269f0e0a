#pragma once

#include "ConsoleDriver.h"

#include <QGroupBox>
#include <QStringList>

#include <functional>
#include <string>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The send dialog's "Console": a line typed goes to the module and its reply joins the
// transcript, as a serial terminal would do it. For a list that makes the module a
// central, it also discovers the devices around and connects to one; once connected, what
// is typed goes to that device and what it sends is shown. The port is opened on first
// use and held until the dialog sends a list again or closes.
class TConsolePart : public QGroupBox {
    Q_OBJECT
public:
    struct Link {
        std::string port; // empty: none chosen
        qz::serial::SessionSettings settings;
    };

    // link gives the dialog's port and settings as they stand; central says whether the
    // list makes the module a central, which discovers and connects.
    TConsolePart(std::function<Link()> link, bool central, QWidget* parent);

    bool busy() const { return driver_.busy(); }
    bool connected() const { return driver_.connected(); }
    void stop() { driver_.stop(); }
    // Ends the link the module holds (a lone AT); busyChanged(false) follows once it is over.
    void disconnectLink();
    // Gives the port back, for a send session or as the dialog closes.
    void closePort();

    QLineEdit* edtConsole;
    QPushButton* btnConsoleSend;
    QCheckBox* cbHex;
    QPushButton* btnDiscover;
    QPushButton* btnConnect;
    QPushButton* btnDisconnect;
    QTreeWidget* tvDevices;

signals:
    void exchanged(const qz::serial::Exchange& exchange);
    // Lines for the transcript that are no exchange: what a connected device sent.
    void lines(const QStringList& lines);
    void status(const QString& words);
    void busyChanged(bool busy);

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
    void enableControls();
    void recall(int step);

    std::function<Link()> link_;
    Link open_; // what the port was opened with
    qz::ConsoleDriver driver_;
    QStringList history_;
    int recalled_ = 0; // history_.size() while nothing is recalled
};
