#include "SerialDriver.h"

#include <QFile>
#include <QLockFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace qz {

namespace {

// Qt keeps no more than this of what the port delivers between two reads; the session
// keeps less still, so a module that floods the line cannot fill the memory.
constexpr qint64 readBufferBytes = 4096;

constexpr const char* noSuchDevice = "no such device";
constexpr const char* permissionDeniedWord = "permission denied";

#ifdef Q_OS_UNIX
// A port path is read as bytes and resolved before anything opens it, so that every
// spelling of one device (a symlink, "..", doubled slashes, a bare ttyUSB0) takes the
// same lock, and a name that is not valid UTF-8 still reaches the device.
struct ResolvedPort {
    QString path;
    std::string problem;
};

ResolvedPort resolvePort(const std::string& port)
{
    const std::string spelled = port.find('/') == std::string::npos ? "/dev/" + port : port;
    char resolved[PATH_MAX];
    if (realpath(spelled.c_str(), resolved) == nullptr)
        return {{}, errno == EACCES ? permissionDeniedWord : noSuchDevice};
    return {QFile::decodeName(resolved), {}};
}

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
    if (stat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == EACCES ? permissionDeniedWord : noSuchDevice;
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

bool processIsAlive(qint64 pid)
{
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The UUCP lock files that serial programs (Qt's among them) leave beside the port.
std::string lockHolder(const QString& path)
{
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder : {"/var/lock", "/run/lock", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp"}) {
        qint64 pid = 0;
        QString host;
        QString application;
        QLockFile lock(QLatin1String(folder) + QLatin1String("/LCK..") + name);
        if (lock.getLockInfo(&pid, &host, &application) && processIsAlive(pid))
            return "busy: another program holds it (process " + std::to_string(pid)
                + (application.isEmpty() ? std::string() : ", " + application.toStdString()) + ")";
    }
    return {};
}

// Opens the device once more without waiting: tells a terminal from any other character
// device (/dev/null, say), and a port held exclusively by another program.
std::string probeDevice(const QByteArray& file)
{
    const int descriptor = open(file.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0)
        return errno == EBUSY ? "busy: another program holds it" : std::string();
    std::string problem;
    if (isatty(descriptor) == 0)
        problem = "not a serial device";
    else if (flock(descriptor, LOCK_EX | LOCK_NB) != 0)
        problem = "busy: another program holds it";
    close(descriptor);
    return problem;
}

std::string openFailure(const QString& path, QSerialPort::SerialPortError error, const QString& detail)
{
    const QByteArray file = QFile::encodeName(path);
    struct stat status {};
    if (error == QSerialPort::DeviceNotFoundError) // gone since it was resolved
        return noSuchDevice;
    if (error == QSerialPort::PermissionError && access(file.constData(), R_OK | W_OK) != 0
        && stat(file.constData(), &status) == 0)
        return permissionDenied(status);
    if (std::string holder = lockHolder(path); !holder.empty())
        return holder;
    if (std::string problem = probeDevice(file); !problem.empty())
        return problem;
    // Nobody holds it, yet Qt could not lock it: its lock file could not be made.
    if (error == QSerialPort::PermissionError)
        return "cannot create its lock file (" + detail.toStdString() + ")";
    return detail.toStdString();
}

// Qt's lock file keeps other programs out; this lock also keeps out a second session run
// by root, whom the port's exclusive mode does not stop.
bool lockExclusively(QSerialPort& port)
{
    return flock(static_cast<int>(port.handle()), LOCK_EX | LOCK_NB) == 0;
}

// Waits until the bytes written have left the port, so that a new rate does not garble
// the end of the last command.
void drain(QSerialPort& port)
{
    // Qt writes its buffer on the event loop, long before a reply can be complete; the
    // flush makes sure of it before the line itself is drained.
    port.flush();
    tcdrain(static_cast<int>(port.handle()));
}

bool deviceIsGone(const QString& path)
{
    struct stat status {};
    return stat(QFile::encodeName(path).constData(), &status) != 0;
}
#else
struct ResolvedPort {
    QString path;
    std::string problem;
};

ResolvedPort resolvePort(const std::string& port)
{
    return {QString::fromLocal8Bit(port.data(), static_cast<int>(port.size())), {}};
}

std::string problemBeforeOpening(const QString&)
{
    return {};
}

std::string openFailure(const QString&, QSerialPort::SerialPortError error, const QString& detail)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return noSuchDevice;
    case QSerialPort::PermissionError: return "permission denied, or busy: another program holds it";
    default: break;
    }
    return detail.toStdString();
}

bool lockExclusively(QSerialPort&)
{
    return true; // Windows opens a COM port for one program only
}

void drain(QSerialPort& port)
{
    port.flush();
    port.waitForBytesWritten(1000);
}

bool deviceIsGone(const QString&)
{
    return false;
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
    const ResolvedPort resolved = resolvePort(port);
    if (!resolved.problem.empty())
        return resolved.problem;
    if (std::string problem = problemBeforeOpening(resolved.path); !problem.empty())
        return problem;
    port_.setPortName(resolved.path);
    port_.setBaudRate(settings.baudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setReadBufferSize(readBufferBytes);
    if (!port_.open(QIODevice::ReadWrite)) {
        std::string problem = openFailure(resolved.path, port_.error(), port_.errorString());
        port_.clearError();
        return problem;
    }
    if (!lockExclusively(port_)) {
        port_.close();
        return "busy: another program holds it";
    }
    port_.clear(); // nothing left over from before belongs to this session
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

serial::Micros SerialDriver::now() const
{
    return serial::Micros(clock_.nsecsElapsed() / 1000);
}

bool SerialDriver::switchRate(int baudRate)
{
    drain(port_);
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
    }
}

void SerialDriver::readArrived()
{
    const QByteArray bytes = port_.readAll();
    if (running() && !bytes.isEmpty())
        apply(session_->BytesArrived(now(), std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
}

std::string SerialDriver::portFailure(QSerialPort::SerialPortError error) const
{
    switch (error) {
    // A hang-up shows as either; Qt's own text for it names a stale cause.
    case QSerialPort::ResourceError: return "the port was closed or unplugged";
    case QSerialPort::ReadError:
        if (deviceIsGone(port_.portName()))
            return "the port was closed or unplugged";
        return "reading from the port failed: " + port_.errorString().toStdString();
    case QSerialPort::WriteError: return "writing to the port failed: " + port_.errorString().toStdString();
    default: break;
    }
    return port_.errorString().toStdString();
}

void SerialDriver::portError(QSerialPort::SerialPortError error)
{
    // Timeouts come only from the blocking calls, which the session does not use.
    if (!running() || error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    // What arrived before the failure belongs in the transcript.
    readArrived();
    if (running())
        apply(session_->PortFailed(portFailure(error)));
}

} // namespace qz
