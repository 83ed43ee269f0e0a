#include "PortList.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace qz {

std::vector<PortInfo> AvailablePorts()
{
    std::vector<PortInfo> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortInfo port;
        port.name = info.systemLocation().toLocal8Bit().toStdString();
        port.description = (info.description().isEmpty() ? info.manufacturer() : info.description()).toStdString();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            port.usbId = UsbId(info.vendorIdentifier(), info.productIdentifier());
        port.serialNumber = info.serialNumber().toStdString();
        ports.push_back(std::move(port));
    }
    PutUsbFirst(ports);
    return ports;
}

std::string UsbId(unsigned vendor, unsigned product)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string id;
    for (unsigned value : {vendor, product}) {
        id += id.empty() ? "" : ":";
        for (int shift = 12; shift >= 0; shift -= 4)
            id += hex[(value >> shift) & 0xF];
    }
    return id;
}

void PutUsbFirst(std::vector<PortInfo>& ports)
{
    std::stable_partition(ports.begin(), ports.end(), [](const PortInfo& port) { return !port.usbId.empty(); });
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
