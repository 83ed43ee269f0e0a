#include "ModulePort.h"

#include "PortSystem.h"

namespace qz {

namespace {

// Qt keeps no more than this of what the port delivers between two reads; the sessions
// keep less still, so a module that floods the line cannot fill the memory.
constexpr qint64 readBufferBytes = 4096;

} // namespace

std::string OpenModulePort(QSerialPort& port, const std::string& name, int baudRate)
{
    const portsystem::ResolvedPort resolved = portsystem::Resolve(name);
    if (!resolved.problem.empty())
        return resolved.problem;
    if (std::string problem = portsystem::ProblemBeforeOpening(resolved.path); !problem.empty())
        return problem;
    port.setPortName(resolved.path);
    port.setBaudRate(baudRate);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    port.setReadBufferSize(readBufferBytes);
    if (!port.open(QIODevice::ReadWrite)) {
        std::string problem = portsystem::OpenFailure(resolved.path, port.error(), port.errorString());
        port.clearError();
        return problem;
    }
    if (!portsystem::LockExclusively(port)) {
        port.close();
        return "busy: another program holds it";
    }
    port.clear(); // nothing left over from before belongs to this session
    return {};
}

std::string PortFailureWords(const QSerialPort& port, QSerialPort::SerialPortError error)
{
    switch (error) {
    // A hang-up shows as either; Qt's own text for it names a stale cause.
    case QSerialPort::ResourceError: return "the port was closed or unplugged";
    case QSerialPort::ReadError:
        if (portsystem::DeviceIsGone(port.portName()))
            return "the port was closed or unplugged";
        return "reading from the port failed: " + port.errorString().toStdString();
    case QSerialPort::WriteError: return "writing to the port failed: " + port.errorString().toStdString();
    default: break;
    }
    return port.errorString().toStdString();
}

} // namespace qz
