#include "SerialDriver.h"

#include "ModulePort.h"
#include "PortSystem.h"

#include <algorithm>
#include <climits>

namespace qz {

SerialDriver::SerialDriver(QObject* parent)
    : QObject(parent)
{
    // A coarse timer may fire a few per cent early; the session would only wait on, but a
    // precise one keeps the gaps and pauses at their minimum.
    wakeUp_.setSingleShot(true);
    wakeUp_.setTimerType(Qt::PreciseTimer);
    connect(&wakeUp_, &QTimer::timeout, this, [this] {
        if (running())
            apply(session_->TimePassed(now()));
    });
    connect(&port_, &QSerialPort::readyRead, this, &SerialDriver::readArrived);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialDriver::portError);
}

std::string SerialDriver::start(const std::string& port, std::vector<std::string> commands,
                                serial::SessionSettings settings)
{
    if (running())
        return "a session is running already";
    if (std::string problem = OpenModulePort(port_, port, settings.baudRate); !problem.empty())
        return problem;
    session_.emplace(std::move(commands), settings);
    stopAsked_ = false;
    clock_.start();
    apply(session_->Start(now()));
    return {};
}

void SerialDriver::stop()
{
    if (!running() || stopAsked_)
        return;
    stopAsked_ = true;
    // Inside apply() the stop is taken up before anything more is written.
    if (!applying_)
        apply(session_->Stop(now()));
}

void SerialDriver::proceed(std::optional<std::vector<std::string>> commands)
{
    if (running())
        apply(session_->Proceed(now(), std::move(commands)));
}

void SerialDriver::withdraw(const std::string& why)
{
    if (running())
        apply(session_->Withdraw(why));
}

serial::Micros SerialDriver::now() const
{
    return serial::Micros(clock_.nsecsElapsed() / 1000);
}

bool SerialDriver::switchRate(int baudRate)
{
    portsystem::Drain(port_);
    return port_.setBaudRate(baudRate);
}

// Reports the exchanges; a handler may ask to stop meanwhile.
void SerialDriver::report(const serial::Actions& actions)
{
    for (const serial::Exchange& exchange : actions.transcript)
        emit exchanged(exchange);
}

void SerialDriver::apply(serial::Actions actions)
{
    const bool stopAskedBefore = stopAsked_;
    applying_ = true;
    if (actions.setBaudRate && !switchRate(*actions.setBaudRate)) {
        const std::string reason = "switching it to " + std::to_string(*actions.setBaudRate)
            + " baud failed: " + port_.errorString().toStdString();
        report(actions);
        actions = session_->PortFailed(reason);
    }
    report(actions);
    if (!actions.verdict && stopAsked_ && !stopAskedBefore) {
        // The stop came while the transcript was being reported: it must hold before
        // anything more is written.
        actions = actions.write.empty() ? session_->Stop(now()) : session_->WriteWithheld();
        report(actions);
    }
    // QSerialPort takes the whole write into its buffer, or fails with -1.
    if (!actions.write.empty()
        && port_.write(actions.write.data(), static_cast<qint64>(actions.write.size())) < 0) {
        actions = session_->PortFailed("writing to the port failed: " + port_.errorString().toStdString());
        report(actions);
    }
    applying_ = false;
    if (actions.wakeAt) {
        // Rounded up, so that the wake-up is never early by the rounding.
        const auto waitMicros = std::max<long long>(0, (*actions.wakeAt - now()).count());
        wakeUp_.start(static_cast<int>(std::min<long long>((waitMicros + 999) / 1000, INT_MAX)));
    }
    if (actions.verdict) {
        wakeUp_.stop();
        port_.close();
        emit finished(*actions.verdict);
    } else if (actions.identified) {
        // Last: the owner's answer applies the session's next actions.
        emit identified(*actions.identified);
    }
}

void SerialDriver::readArrived()
{
    const QByteArray bytes = port_.readAll();
    if (running() && !bytes.isEmpty())
        apply(session_->BytesArrived(now(), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
}

void SerialDriver::portError(QSerialPort::SerialPortError error)
{
    // Timeouts come only from the blocking calls, which the session does not use.
    if (!running() || error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    // What arrived before the failure belongs in the transcript.
    readArrived();
    if (running())
        apply(session_->PortFailed(PortFailureWords(port_, error)));
}

} // namespace qz
