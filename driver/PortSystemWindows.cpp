#include "PortSystem.h"

#include <QSerialPortInfo>
#include <QTimer>

namespace qz::portsystem {

// A COM port name is the device itself: there is nothing to resolve.
ResolvedPort Resolve(const std::string& port)
{
    return {QString::fromLocal8Bit(port.data(), static_cast<int>(port.size())), {}};
}

std::string ProblemBeforeOpening(const QString&)
{
    return {};
}

std::string OpenFailure(const QString&, QSerialPort::SerialPortError error, const QString& detail)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError: return NoSuchDevice;
    case QSerialPort::PermissionError: return "permission denied, or busy: another program holds it";
    default: break;
    }
    return detail.toStdString();
}

bool LockExclusively(QSerialPort&)
{
    return true; // Windows opens a COM port for one program only
}

void Drain(QSerialPort& port)
{
    port.flush();
    port.waitForBytesWritten(1000);
}

bool DeviceIsGone(const QString&)
{
    return false;
}

std::string DeviceBehind(const std::string& port)
{
    const QString name = QString::fromStdString(port);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.portName().compare(name, Qt::CaseInsensitive) == 0
            || info.systemLocation().compare(name, Qt::CaseInsensitive) == 0)
            return info.systemLocation().toStdString();
    }
    return {};
}

// COM ports are no files to watch; asking Windows once a second costs next to nothing.
void WatchPorts(QObject* owner, const std::vector<std::string>&, std::function<void()> changed)
{
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [changed = std::move(changed)] { changed(); });
    timer->start(1000);
}

} // namespace qz::portsystem
