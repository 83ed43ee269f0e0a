#pragma once

// Opening a module's serial port, and its failures in words: the same for a send session
// and for a console.

#include <QSerialPort>

#include <string>

namespace qz {

// Opens the port at the rate, 8N1 without flow control, and locks it against every other
// session; nothing is written. On failure the port is closed and the answer says why in
// words ("no such device", ...). Empty on success.
std::string OpenModulePort(QSerialPort& port, const std::string& name, int baudRate);
// What an error of the open port means for the user.
std::string PortFailureWords(const QSerialPort& port, QSerialPort::SerialPortError error);

} // namespace qz
