#include "Process.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace qz::cli {

namespace {

std::atomic<bool> interrupted{false};
int signalPipe[2] = {-1, -1};

// Only what is safe in a signal handler: a flag, a byte into a pipe, _exit.
void onSignal(int number)
{
    if (interrupted.exchange(true) && number == SIGINT)
        _exit(InterruptStatus);
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

} // namespace

void OpenMissingStandardDescriptors()
{
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) < 0 && errno == EBADF)
            open("/dev/null", O_RDWR); // takes the lowest free descriptor: this one
    }
}

void IgnoreBrokenPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}

void WatchInterruptions(std::function<void(int exitStatus)> onInterrupt)
{
    if (pipe(signalPipe) != 0)
        return;
    for (int end : signalPipe)
        fcntl(end, F_SETFD, FD_CLOEXEC);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onInterrupt = std::move(onInterrupt)] {
        char number = 0;
        if (read(signalPipe[0], &number, 1) == 1)
            onInterrupt(number == SIGTERM ? TerminationStatus : InterruptStatus);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::size_t ReadStandardInput(char* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t count = read(STDIN_FILENO, buffer, size);
        if (count >= 0)
            return static_cast<std::size_t>(count);
        if (errno != EINTR)
            return 0;
    }
}

} // namespace qz::cli
