// The floor for qzconfig as a process: a program linked against the same libraries that
// prints the same bytes.
#include <QSerialPort>

#include <cstdio>

int main()
{
    static const char bytes[] =
#include "StudyListBytes.inc"
        ;
    // Uses the serial port module, so that the linker keeps it and it loads as qzconfig's does.
    if (QSerialPort::staticMetaObject.className() == nullptr)
        return 1;
    std::fwrite(bytes, 1, sizeof bytes - 1, stdout);
    return 0;
}
