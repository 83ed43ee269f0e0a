#include "PortSystem.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLockFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qz::portsystem {

namespace {

// A bare name (ttyUSB0) means the device of that name in /dev.
std::string spelledOut(const std::string& port)
{
    return port.find('/') == std::string::npos ? "/dev/" + port : port;
}

std::string groupOf(const struct stat& status)
{
    const struct group* entry = getgrgid(status.st_gid);
    return entry != nullptr ? entry->gr_name : "dialout";
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

// The folder to watch for a port to come and go.
QString folderOf(const std::string& port)
{
    const QString path = QString::fromLocal8Bit(port.data(), static_cast<int>(port.size()));
    return path.contains(QLatin1Char('/')) ? QFileInfo(path).absolutePath() : QStringLiteral("/dev");
}

} // namespace

// The path is read as bytes and resolved before anything opens it, so that every spelling
// of one device (a symlink, "..", doubled slashes, a bare ttyUSB0) takes the same lock,
// and a name that is not valid UTF-8 still reaches the device.
ResolvedPort Resolve(const std::string& port)
{
    char resolved[PATH_MAX];
    if (realpath(spelledOut(port).c_str(), resolved) == nullptr)
        return {{}, errno == EACCES ? PermissionDeniedWord : NoSuchDevice};
    return {QFile::decodeName(resolved), {}};
}

// A plain file or a folder must not be written to.
std::string ProblemBeforeOpening(const QString& path)
{
    struct stat status {};
    if (stat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == EACCES ? PermissionDeniedWord : NoSuchDevice;
    if (!S_ISCHR(status.st_mode))
        return "not a serial device";
    return {};
}

std::string OpenFailure(const QString& path, QSerialPort::SerialPortError error, const QString& detail)
{
    const QByteArray file = QFile::encodeName(path);
    struct stat status {};
    if (error == QSerialPort::DeviceNotFoundError) // gone since it was resolved
        return NoSuchDevice;
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
bool LockExclusively(QSerialPort& port)
{
    return flock(static_cast<int>(port.handle()), LOCK_EX | LOCK_NB) == 0;
}

void Drain(QSerialPort& port)
{
    // Qt writes its buffer on the event loop, long before a reply can be complete; the
    // flush makes sure of it before the line itself is drained.
    port.flush();
    tcdrain(static_cast<int>(port.handle()));
}

bool DeviceIsGone(const QString& path)
{
    struct stat status {};
    return stat(QFile::encodeName(path).constData(), &status) != 0;
}

// The device and inode tell a link that now names another adapter from the one it named.
std::string DeviceBehind(const std::string& port)
{
    char resolved[PATH_MAX];
    struct stat status {};
    if (realpath(spelledOut(port).c_str(), resolved) == nullptr || stat(resolved, &status) != 0)
        return {};
    return std::string(resolved) + "@" + std::to_string(status.st_rdev) + ":" + std::to_string(status.st_ino);
}

// The folders that hold the ports tell of every device node or link that comes or goes:
// no polling.
void WatchPorts(QObject* owner, const std::vector<std::string>& ports, std::function<void()> changed)
{
    auto* watcher = new QFileSystemWatcher(owner);
    for (const std::string& port : ports)
        watcher->addPath(folderOf(port));
    QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, owner, [changed = std::move(changed)] { changed(); });
}

} // namespace qz::portsystem
