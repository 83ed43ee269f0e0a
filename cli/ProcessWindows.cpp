#include "Process.h"

#include <QCoreApplication>

#include <atomic>

#include <windows.h>

namespace qz::cli {

namespace {

std::atomic<bool> interrupted{false};
std::function<void(int)>* handler = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (interrupted.exchange(true))
        ExitProcess(InterruptStatus);
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { (*handler)(InterruptStatus); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

// Windows starts every program with its standard handles, and a closed pipe makes a write
// fail without a signal: nothing to do for either.
void OpenMissingStandardDescriptors() {}
void IgnoreBrokenPipes() {}

void WatchInterruptions(std::function<void(int exitStatus)> onInterrupt)
{
    handler = new std::function<void(int)>(std::move(onInterrupt));
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

std::size_t ReadStandardInput(char* buffer, std::size_t size)
{
    // A console gives a line at a time, a pipe what has come; both as bytes.
    DWORD count = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, static_cast<DWORD>(size), &count, nullptr))
        return 0;
    return count;
}

} // namespace qz::cli
