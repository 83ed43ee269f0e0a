#include "PortList.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace qz {

namespace {

std::string hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper().toStdString();
}

} // namespace

std::vector<PortInfo> AvailablePorts()
{
    QList<QSerialPortInfo> found = QSerialPortInfo::availablePorts();
    std::stable_sort(found.begin(), found.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
        return a.hasVendorIdentifier() && !b.hasVendorIdentifier();
    });
    std::vector<PortInfo> ports;
    for (const QSerialPortInfo& info : found) {
        PortInfo port;
        port.name = info.systemLocation().toLocal8Bit().toStdString();
        port.description = (info.description().isEmpty() ? info.manufacturer() : info.description()).toStdString();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            port.usbId = hex4(info.vendorIdentifier()) + ":" + hex4(info.productIdentifier());
        port.serialNumber = info.serialNumber().toStdString();
        ports.push_back(std::move(port));
    }
    return ports;
}

std::string PortDetails(const PortInfo& port)
{
    std::string details = port.description;
    if (!port.usbId.empty())
        details += (details.empty() ? "USB " : ", USB ") + port.usbId;
    if (!port.serialNumber.empty())
        details += (details.empty() ? "serial " : ", serial ") + port.serialNumber;
    return details;
}

} // namespace qz
