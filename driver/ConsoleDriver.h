#pragma once

#include "ConsoleSession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <optional>
#include <string>

namespace qz {

// Talks with the module on an open port for as long as the user wants: typed commands, a
// discovery, a connection and then bytes both ways. Feeds a console session what the
// port and the clock report and carries out what it answers, on the caller's event loop;
// nothing here blocks. The port stays open and locked until close() or a port failure.
class ConsoleDriver : public QObject {
    Q_OBJECT
public:
    explicit ConsoleDriver(QObject* parent = nullptr);

    // Opens and locks the port; nothing is written. The reason in words, or empty.
    std::string open(const std::string& port, serial::SessionSettings settings);
    void close();

    bool isOpen() const { return session_.has_value() && !session_->dead(); }
    bool busy() const { return isOpen() && session_->busy(); }
    bool connected() const { return isOpen() && session_->connected(); }
    // What the last discovery heard, in the order heard.
    std::vector<serial::FoundDevice> devices() const
    {
        return session_ ? session_->devices() : std::vector<serial::FoundDevice>();
    }

    // Each does nothing while an operation runs or with the port closed.
    void command(const std::string& text);
    void discover(serial::Micros timeLimit = serial::DefaultDiscoveryLimit);
    void connectTo(const serial::FoundDevice& device);
    // Once connected: bytes for the far device, as they are.
    void relay(const std::string& bytes);
    // Ends the link the module holds, as it allows; ended() says whether it confirmed it.
    void disconnectLink();
    // Ends the operation in flight at once.
    void stop();

signals:
    void exchanged(const qz::serial::Exchange& exchange);
    void found(const qz::serial::FoundDevice& device);
    void relayed(const std::string& bytes);
    void ended(const qz::serial::TalkOutcome& outcome);

private:
    serial::Micros now() const;
    void apply(serial::TalkActions actions);
    void readArrived();
    void portError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    QTimer wakeUp_;
    QElapsedTimer clock_;
    std::optional<serial::ConsoleSession> session_;
};

} // namespace qz
