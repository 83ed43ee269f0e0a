#include "CommandLine.h"
#include "Interruption.h"
#include "SerialDriver.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// The errno of the first write to standard output that failed; 0 while none has.
int outputError = 0;

// Writes text at once, so that a transcript shows each exchange as it happens.
bool writeNow(std::FILE* stream, const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

// Standard output remembers why it failed: the reason is the failed write's, not that of
// whatever fails later.
bool writeOut(const std::string& text)
{
    if (outputError != 0)
        return false;
    errno = 0;
    if (writeNow(stdout, text))
        return true;
    outputError = errno != 0 ? errno : EIO;
    return false;
}

int cannotWriteOutput()
{
    writeNow(stderr, "qzconfig: cannot write standard output: " + std::string(std::strerror(outputError)) + "\n");
    return qz::cli::SendFailed;
}

// A descriptor closed by whoever started us would be taken by the next file opened (the
// port's lock file, say), and the transcript would land there.
void openMissingStandardDescriptors()
{
#ifdef Q_OS_UNIX
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) < 0 && errno == EBADF)
            open("/dev/null", O_RDWR); // takes the lowest free descriptor: this one
    }
#endif
}

// Sends the commands and prints the transcript as it happens; the verdict decides the
// exit status.
int sendToModule(int argc, char** argv, const qz::cli::SendRequest& request)
{
#ifdef Q_OS_UNIX
    // A closed pipe is an output failure like any other: the session stops cleanly.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication application(argc, argv);
    qz::SerialDriver driver;
    const std::string failurePrefix = "qzconfig: --port " + qz::serial::EscapedBytes(request.port) + ": ";
    int status = qz::cli::SendFailed;
    int interruptedStatus = 0;
    qz::cli::WatchInterruptions([&](int exitStatus) {
        interruptedStatus = exitStatus;
        driver.stop();
    });
    QObject::connect(&driver, &qz::SerialDriver::exchanged, [&](const qz::serial::Exchange& exchange) {
        if (!writeOut(qz::serial::TranscriptLine(exchange) + "\n"))
            driver.stop();
    });
    QObject::connect(&driver, &qz::SerialDriver::finished, [&](const qz::serial::Verdict& verdict) {
        if (verdict.succeeded() && writeOut(verdict.message + "\n"))
            status = qz::cli::Listed;
        else if (interruptedStatus != 0 && verdict.ending == qz::serial::Ending::Stopped)
            writeNow(stderr, failurePrefix + "Interrupted; " + qz::serial::TakenSummary(verdict.taken, verdict.total)
                                 + "\n");
        else if (!verdict.succeeded())
            writeNow(stderr, failurePrefix + verdict.message + "\n");
        QCoreApplication::exit(0);
    });
    const std::string problem = driver.start(request.port, request.commands, request.settings);
    if (!problem.empty()) {
        writeNow(stderr, failurePrefix + "cannot open it: " + qz::serial::EscapedBytes(problem) + "\n");
        return qz::cli::SendFailed;
    }
    QCoreApplication::exec();
    if (outputError != 0)
        return cannotWriteOutput();
    if (interruptedStatus != 0 && status != qz::cli::Listed)
        return interruptedStatus;
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    openMissingStandardDescriptors();
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const qz::cli::Outcome outcome = qz::cli::RunCommandLine(args);
    if (outcome.send)
        return sendToModule(argc, argv, *outcome.send);
    const bool written = writeOut(outcome.out);
    writeNow(stderr, outcome.err);
    return written ? outcome.status : cannotWriteOutput();
}
