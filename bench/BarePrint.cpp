// The floor for qzconfig as a process: a program linked against the same libraries that
// prints the same bytes.
#include <QDBusAbstractInterface>
#include <QSerialPort>

#include <cstdio>

int main()
{
    static const char bytes[] =
#include "StudyListBytes.inc"
        ;
    // Uses the serial port and D-Bus modules, so that the linker keeps them and they load as
    // qzconfig's do.
    if (QSerialPort::staticMetaObject.className() == nullptr
        || QDBusAbstractInterface::staticMetaObject.className() == nullptr)
        return 1;
    std::fwrite(bytes, 1, sizeof bytes - 1, stdout);
    return 0;
}
