#include "CommandLine.h"
#include "Interruption.h"
#include "RunBatch.h"
#include "SerialDriver.h"
#include "StandardStreams.h"

#include <QCoreApplication>

#include <csignal>

namespace {

using namespace qz::cli;

// Sends the commands and prints the transcript as it happens; the verdict decides the
// exit status.
int sendToModule(int argc, char** argv, const SendRequest& request)
{
    QCoreApplication application(argc, argv);
    qz::SerialDriver driver;
    const std::string failurePrefix = "qzconfig: --port " + qz::serial::EscapedBytes(request.port) + ": ";
    int status = SendFailed;
    int interruptedStatus = 0;
    WatchInterruptions([&](int exitStatus) {
        interruptedStatus = exitStatus;
        driver.stop();
    });
    QObject::connect(&driver, &qz::SerialDriver::exchanged, [&](const qz::serial::Exchange& exchange) {
        if (!WriteOut(qz::serial::TranscriptLine(exchange) + "\n"))
            driver.stop();
    });
    QObject::connect(&driver, &qz::SerialDriver::finished, [&](const qz::serial::Verdict& verdict) {
        if (verdict.succeeded() && WriteOut(verdict.message + "\n"))
            status = Listed;
        else if (interruptedStatus != 0 && verdict.ending == qz::serial::Ending::Stopped)
            WriteErr(failurePrefix + "Interrupted; " + qz::serial::TakenSummary(verdict.taken, verdict.total) + "\n");
        else if (!verdict.succeeded())
            WriteErr(failurePrefix + verdict.message + "\n");
        QCoreApplication::exit(0);
    });
    const std::string problem = driver.start(request.port, request.commands, request.settings);
    if (!problem.empty()) {
        WriteErr(failurePrefix + "cannot open it: " + qz::serial::EscapedBytes(problem) + "\n");
        return SendFailed;
    }
    QCoreApplication::exec();
    if (OutputFailed())
        return CannotWriteOutput();
    if (interruptedStatus != 0 && status != Listed)
        return interruptedStatus;
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    OpenMissingStandardDescriptors();
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const Outcome outcome = RunCommandLine(args);
#ifdef SIGPIPE
    // While sending, a closed pipe is an output failure like any other: the session stops
    // cleanly instead of the program dying in the middle of it.
    if (outcome.send || outcome.batch)
        std::signal(SIGPIPE, SIG_IGN);
#endif
    if (outcome.send)
        return sendToModule(argc, argv, *outcome.send);
    if (outcome.batch)
        return RunBatch(argc, argv, *outcome.batch);
    const bool written = WriteOut(outcome.out);
    WriteErr(outcome.err);
    return written ? outcome.status : CannotWriteOutput();
}
