#pragma once

#include <string>
#include <vector>

namespace qz {

// A serial port on this computer as serial tools list it.
struct PortInfo {
    std::string name;         // what opens it: /dev/ttyUSB0, COM3
    std::string description;  // the adapter's own words, or its maker's
    std::string usbId;        // "10C4:EA60", for a USB adapter
    std::string serialNumber; // the adapter's, where it has one
};

// The ports there now, USB adapters first: a module is far more often on one.
std::vector<PortInfo> AvailablePorts();
// "CP2102 USB to UART, USB 10C4:EA60, serial 0001": what tells one adapter from another;
// empty where nothing does.
std::string PortDetails(const PortInfo& port);
// "10C4:EA60", as USB tools write a vendor and product.
std::string UsbId(unsigned vendor, unsigned product);
// USB adapters first, each group in the system's order.
void PutUsbFirst(std::vector<PortInfo>& ports);

} // namespace qz
