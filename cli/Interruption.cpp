#include "Interruption.h"

#include <QCoreApplication>

#include <atomic>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

namespace qz::cli {

namespace {

constexpr int interruptStatus = 128 + 2;   // SIGINT
constexpr int terminationStatus = 128 + 15; // SIGTERM

std::atomic<bool> interrupted{false};

#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};

// Only what is safe in a signal handler: a flag, a byte into a pipe, _exit.
void onSignal(int number)
{
    if (interrupted.exchange(true) && number == SIGINT)
        _exit(interruptStatus);
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}
#else
std::function<void(int)>* handler = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (interrupted.exchange(true))
        ExitProcess(interruptStatus);
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { (*handler)(interruptStatus); }, Qt::QueuedConnection);
    return TRUE;
}
#endif

} // namespace

void WatchInterruptions(std::function<void(int exitStatus)> onInterrupt)
{
#ifdef Q_OS_UNIX
    if (pipe(signalPipe) != 0)
        return;
    for (int end : signalPipe)
        fcntl(end, F_SETFD, FD_CLOEXEC);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onInterrupt = std::move(onInterrupt)] {
        char number = 0;
        if (read(signalPipe[0], &number, 1) == 1)
            onInterrupt(number == SIGTERM ? terminationStatus : interruptStatus);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#else
    handler = new std::function<void(int)>(std::move(onInterrupt));
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#endif
}

} // namespace qz::cli
