#pragma once

// What a serial port needs from the operating system beyond what QSerialPort gives: the
// device a name stands for, the checks before and after opening, a lock, draining the
// line, and noticing ports come and go. One implementation per system, chosen by CMake.

#include <QSerialPort>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QObject;

namespace qz::portsystem {

inline constexpr const char* NoSuchDevice = "no such device";
inline constexpr const char* PermissionDeniedWord = "permission denied";

// A port name as the user gave it, resolved to the device that opens it; or, when it
// cannot be, the reason in words.
struct ResolvedPort {
    QString path;
    std::string problem;
};

ResolvedPort Resolve(const std::string& port);
// What can be told before the port is touched ("not a serial device", ...); empty if nothing.
std::string ProblemBeforeOpening(const QString& path);
// Why QSerialPort could not open the port, in the user's words.
std::string OpenFailure(const QString& path, QSerialPort::SerialPortError error, const QString& detail);
// Keeps every other session out of the open port; false when another one holds it.
bool LockExclusively(QSerialPort& port);
// Returns once the bytes written have left the port.
void Drain(QSerialPort& port);
// After a read error: whether the device itself has gone.
bool DeviceIsGone(const QString& path);

// What the port's name stands for now: an identity of the device behind it, or empty
// when there is none. A new identity behind the same name is a new module.
std::string DeviceBehind(const std::string& port);
// Calls changed (on the owner's event loop) whenever any of the ports may have come or
// gone, for as long as owner lives.
void WatchPorts(QObject* owner, const std::vector<std::string>& ports, std::function<void()> changed);

} // namespace qz::portsystem
