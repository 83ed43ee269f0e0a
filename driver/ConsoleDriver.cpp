#include "ConsoleDriver.h"

#include "ModulePort.h"
#include "PortSystem.h"

#include <algorithm>
#include <climits>

namespace qz {

ConsoleDriver::ConsoleDriver(QObject* parent)
    : QObject(parent)
{
    wakeUp_.setSingleShot(true);
    wakeUp_.setTimerType(Qt::PreciseTimer);
    connect(&wakeUp_, &QTimer::timeout, this, [this] {
        if (isOpen())
            apply(session_->TimePassed(now()));
    });
    connect(&port_, &QSerialPort::readyRead, this, &ConsoleDriver::readArrived);
    connect(&port_, &QSerialPort::errorOccurred, this, &ConsoleDriver::portError);
}

std::string ConsoleDriver::open(const std::string& port, serial::SessionSettings settings)
{
    if (isOpen())
        return "the port is open already";
    if (std::string problem = OpenModulePort(port_, port, settings.baudRate); !problem.empty())
        return problem;
    session_.emplace(settings);
    clock_.start();
    return {};
}

void ConsoleDriver::close()
{
    wakeUp_.stop();
    // What was relayed last must still reach the device.
    if (port_.isOpen())
        portsystem::Drain(port_);
    port_.close();
    session_.reset();
}

void ConsoleDriver::command(const std::string& text)
{
    if (isOpen())
        apply(session_->Command(now(), text));
}

void ConsoleDriver::discover(serial::Micros timeLimit)
{
    if (isOpen())
        apply(session_->Discover(now(), timeLimit));
}

void ConsoleDriver::connectTo(const serial::FoundDevice& device)
{
    if (isOpen())
        apply(session_->Connect(now(), device));
}

void ConsoleDriver::relay(const std::string& bytes)
{
    if (isOpen())
        apply(session_->Relay(bytes));
}

void ConsoleDriver::disconnectLink()
{
    if (connected())
        apply(session_->Disconnect(now()));
}

void ConsoleDriver::stop()
{
    if (busy())
        apply(session_->Stop());
}

serial::Micros ConsoleDriver::now() const
{
    return serial::Micros(clock_.nsecsElapsed() / 1000);
}

void ConsoleDriver::apply(serial::TalkActions actions)
{
    // QSerialPort takes the whole write into its buffer, or fails with -1.
    if (!actions.write.empty()
        && port_.write(actions.write.data(), static_cast<qint64>(actions.write.size())) < 0) {
        for (const serial::Exchange& exchange : actions.transcript)
            emit exchanged(exchange);
        actions = session_->PortFailed("writing to the port failed: " + port_.errorString().toStdString());
    }
    if (actions.wakeAt) {
        // Rounded up, so that the wake-up is never early by the rounding.
        const auto waitMicros = std::max<long long>(0, (*actions.wakeAt - now()).count());
        wakeUp_.start(static_cast<int>(std::min<long long>((waitMicros + 999) / 1000, INT_MAX)));
    } else if (actions.outcome) {
        wakeUp_.stop();
    }
    const bool dead = session_->dead();
    if (dead)
        port_.close();
    // A handler may start the next operation, or close: nothing of this one is used after.
    for (const serial::Exchange& exchange : actions.transcript)
        emit exchanged(exchange);
    for (const serial::FoundDevice& device : actions.found)
        emit found(device);
    if (!actions.relayed.empty())
        emit relayed(actions.relayed);
    if (actions.outcome)
        emit ended(*actions.outcome);
}

void ConsoleDriver::readArrived()
{
    const QByteArray bytes = port_.readAll();
    if (isOpen() && !bytes.isEmpty())
        apply(session_->BytesArrived(now(), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
}

void ConsoleDriver::portError(QSerialPort::SerialPortError error)
{
    if (!isOpen() || error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    readArrived(); // what came before the failure belongs in the transcript
    if (isOpen())
        apply(session_->PortFailed(PortFailureWords(port_, error)));
}

} // namespace qz
