#pragma once

#include "SendSession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

namespace qz {

// Runs one send session on a serial port: feeds the session what the port and the clock
// report, and carries out what the session answers. Everything happens on the caller's
// event loop; nothing here blocks.
class SerialDriver : public QObject {
    Q_OBJECT
public:
    explicit SerialDriver(QObject* parent = nullptr);

    // Opens the port and sends the probe. On failure, nothing was written and the port is
    // closed; the answer says why in words ("no such device", ...). Empty on success.
    std::string start(const std::string& port, std::vector<std::string> commands, serial::SessionSettings settings);
    // Ends the session after the reply being waited for, within the session's bound. Safe
    // to call from a handler of exchanged(): nothing is written after it.
    void stop();
    // Once the module told its address (identified()): its list goes out (this one, when
    // given), or nothing does.
    void proceed(std::optional<std::vector<std::string>> commands = std::nullopt);
    void withdraw(const std::string& why);

    bool running() const { return session_ && !session_->finished(); }
    int taken() const { return session_ ? session_->taken() : 0; }
    int total() const { return session_ ? session_->total() : 0; }
    // The port's rate now: the one chosen, or the factory rate once AT+RENEW was taken.
    int baudRate() const { return session_ ? session_->baudRate() : 0; }

signals:
    void exchanged(const qz::serial::Exchange& exchange);
    void finished(const qz::serial::Verdict& verdict);
    // Asked to (askModuleAddress), the module told its address, or did not: the session
    // waits for proceed() or withdraw().
    void identified(const qz::serial::ModuleAddress& told);

private:
    serial::Micros now() const;
    void apply(serial::Actions actions);
    void report(const serial::Actions& actions);
    bool switchRate(int baudRate);
    void readArrived();
    void portError(QSerialPort::SerialPortError error);

    QSerialPort port_;
    QTimer wakeUp_;
    QElapsedTimer clock_;
    std::optional<serial::SendSession> session_;
    bool stopAsked_ = false;
    bool applying_ = false;
};

} // namespace qz
