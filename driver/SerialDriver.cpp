#include "SerialDriver.h"

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qz {

namespace {

// QSerialPort takes a bare name (ttyUSB0, COM3) or a path; both name the same device.
QString devicePath(const std::string& port)
{
    const QString name = QString::fromLocal8Bit(port.data(), static_cast<int>(port.size()));
#ifdef Q_OS_UNIX
    if (!name.contains(QLatin1Char('/')))
        return QStringLiteral("/dev/") + name;
#endif
    return name;
}

#ifdef Q_OS_UNIX
std::string groupOf(const struct stat& status)
{
    const struct group* entry = getgrgid(status.st_gid);
    return entry != nullptr ? entry->gr_name : "dialout";
}

// What can be told from the file system alone, before the port is touched: a plain file
// or a folder must not be written to.
std::string problemBeforeOpening(const QString& path)
{
    struct stat status {};
    if (stat(path.toLocal8Bit().constData(), &status) != 0)
        return errno == EACCES ? "permission denied" : "no such device";
    if (!S_ISCHR(status.st_mode))
        return "not a serial device";
    return {};
}

std::string permissionDenied(const struct stat& status)
{
    const std::string group = groupOf(status);
    std::string text = "permission denied: the user must be in the device's group, usually dialout";
    if (group != "dialout")
        text += " (this device's group is " + group + ")";
    if (group != "root")
        text += "; sudo adduser $USER " + group + ", then log in again";
    return text;
}

// Qt has opened the device and let it go already; opening it once more without waiting
// tells a terminal from any other character device (/dev/null, say).
bool isTerminal(const QByteArray& file)
{
    const int descriptor = open(file.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0)
        return true; // cannot tell; Qt's own words follow
    const bool terminal = isatty(descriptor) != 0;
    close(descriptor);
    return terminal;
}

std::string openFailure(const QString& path, QSerialPort::SerialPortError error, const QString& detail)
{
    const QByteArray file = path.toLocal8Bit();
    struct stat status {};
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return "no such device";
    case QSerialPort::PermissionError:
        if (access(file.constData(), R_OK | W_OK) != 0 && stat(file.constData(), &status) == 0)
            return permissionDenied(status);
        return "busy: another program holds it";
    default: break;
    }
    if (!isTerminal(file))
        return "not a serial device";
    return detail.toStdString();
}
#else
std::string problemBeforeOpening(const QString&)
{
    return {};
}

std::string openFailure(const QString&, QSerialPort::SerialPortError error, const QString& detail)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return "no such device";
    case QSerialPort::PermissionError: return "permission denied, or busy: another program holds it";
    default: break;
    }
    return detail.toStdString();
}
#endif

} // namespace

SerialDriver::SerialDriver(QObject* parent)
    : QObject(parent)
{
    // A coarse timer may fire a few per cent early; the session would only wait on, but a
    // precise one keeps the gaps and pauses at their minimum.
    wakeUp_.setSingleShot(true);
    wakeUp_.setTimerType(Qt::PreciseTimer);
    connect(&wakeUp_, &QTimer::timeout, this, [this] { apply(session_->TimePassed(now())); });
    connect(&port_, &QSerialPort::readyRead, this, &SerialDriver::readArrived);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialDriver::portError);
}

std::string SerialDriver::start(const std::string& port, std::vector<std::string> commands,
                                serial::SessionSettings settings)
{
    const QString path = devicePath(port);
    if (std::string problem = problemBeforeOpening(path); !problem.empty())
        return problem;
    port_.setPortName(path);
    port_.setBaudRate(settings.baudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite)) {
        std::string problem = openFailure(path, port_.error(), port_.errorString());
        port_.clearError();
        return problem;
    }
    port_.clear(); // nothing left over from before belongs to this session
    session_.emplace(std::move(commands), settings);
    clock_.start();
    apply(session_->Start(now()));
    return {};
}

void SerialDriver::stop()
{
    if (running())
        apply(session_->Stop(now()));
}

serial::Micros SerialDriver::now() const
{
    return serial::Micros(clock_.nsecsElapsed() / 1000);
}

void SerialDriver::apply(serial::Actions actions)
{
    if (actions.setBaudRate)
        port_.setBaudRate(*actions.setBaudRate);
    if (!actions.write.empty()
        && port_.write(actions.write.data(), static_cast<qint64>(actions.write.size())) < 0) {
        actions.transcript.clear();
        actions = session_->PortFailed("writing to the port failed");
    }
    if (actions.wakeAt) {
        // Rounded up, so that the wake-up is never early by the rounding.
        const auto waitMicros = std::max<long long>(0, (*actions.wakeAt - now()).count());
        wakeUp_.start(static_cast<int>((waitMicros + 999) / 1000));
    }
    for (const serial::Exchange& exchange : actions.transcript)
        emit exchanged(exchange);
    if (actions.verdict) {
        wakeUp_.stop();
        port_.close();
        emit finished(*actions.verdict);
    }
}

void SerialDriver::readArrived()
{
    const QByteArray bytes = port_.readAll();
    if (running())
        apply(session_->BytesArrived(now(), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
}

void SerialDriver::portError(QSerialPort::SerialPortError error)
{
    if (!running())
        return;
    switch (error) {
    // A hang-up shows as either; Qt's own text for it names a stale cause.
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError: apply(session_->PortFailed("the port was closed or unplugged")); break;
    case QSerialPort::WriteError: apply(session_->PortFailed("writing to the port failed")); break;
    default: break;
    }
}

} // namespace qz
