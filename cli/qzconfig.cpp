#include "AirWords.h"
#include "CommandLine.h"
#include "Output.h"
#include "PortList.h"
#include "Process.h"
#include "RunAir.h"
#include "RunBatch.h"
#include "RunTalk.h"
#include "SerialDriver.h"
#include "StandardStreams.h"

#include <QCoreApplication>

namespace {

using namespace qz::cli;

// Sends the commands and prints the transcript as it happens; the verdict decides the
// exit status.
int sendToModule(int argc, char** argv, const SendRequest& request)
{
    QCoreApplication application(argc, argv);
    qz::SerialDriver driver;
    qz::AirCheck check;
    const std::string failurePrefix = "qzconfig: --port " + qz::serial::EscapedBytes(request.port) + ": ";
    int status = SendFailed;
    int interruptedStatus = 0;
    // The session may end inside start() (its first line could not be shown), before the
    // event loop runs; an exit asked for then would be lost, so it is queued.
    const auto leave = [] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    };
    WatchInterruptions([&](int exitStatus) {
        interruptedStatus = exitStatus;
        if (driver.running())
            driver.stop();
        else if (check.running())
            check.stop();
        else
            leave();
    });
    QObject::connect(&driver, &qz::SerialDriver::exchanged, [&](const qz::serial::Exchange& exchange) {
        if (!WriteOut(qz::serial::TranscriptLine(exchange) + "\n"))
            driver.stop();
    });
    QObject::connect(&driver, &qz::SerialDriver::finished, [&](const qz::serial::Verdict& verdict) {
        if (verdict.succeeded() && WriteOut(verdictWords(verdict, request.settings.baudRate) + "\n")) {
            status = Listed;
        } else if (!OutputFailed()) { // once the output failed, that failure is the one to tell
            const bool interrupted = interruptedStatus != 0 && verdict.ending == qz::serial::Ending::Stopped;
            WriteErr(failurePrefix
                     + (interrupted ? "Interrupted; " + qz::serial::TakenSummary(verdict.taken, verdict.total)
                                    : verdictWords(verdict, request.settings.baudRate))
                     + "\n");
        }
        leave();
    });
    // Nothing is sent to a module that could not then be heard.
    if (request.air) {
        if (const std::string why = qz::AirScanner::CannotListen(request.air->adapter); !why.empty()) {
            return TellCannotListen(why, request.air->json);
        }
    }
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
    if (status == Listed && request.air)
        status = ListenAndTell(check, qz::air::ExpectedOnAir(request.advertised), *request.air);
    if (interruptedStatus != 0 && status != Listed)
        return interruptedStatus;
    return status;
}

// One line per port: its name, then what tells its adapter apart.
int listPorts()
{
    std::string lines;
    for (const qz::PortInfo& port : qz::AvailablePorts()) {
        const std::string details = qz::PortDetails(port);
        lines += printable(port.name) + (details.empty() ? "" : "  " + printable(details)) + "\n";
    }
    if (lines.empty())
        lines = "No serial port was found. Plug in the module's adapter, then ask again.\n";
    return WriteOut(lines) ? Listed : CannotWriteOutput();
}

// Carries out what the command line asked for and gives the exit status.
struct Run {
    int argc;
    char** argv;

    int operator()(const Printed& words) const
    {
        const bool written = WriteOut(words.out);
        WriteErr(words.err);
        return written ? words.status : CannotWriteOutput();
    }
    int operator()(const SendRequest& request) const
    {
        IgnoreBrokenPipes();
        return sendToModule(argc, argv, request);
    }
    int operator()(const BatchRequest& request) const
    {
        IgnoreBrokenPipes();
        return RunBatch(argc, argv, request);
    }
    int operator()(const ListPorts&) const { return listPorts(); }
    int operator()(const VerifyRequest& request) const { return RunVerify(argc, argv, request); }
    int operator()(const ScanRequest& request) const { return RunScan(argc, argv, request.air); }
    int operator()(const ConsoleRequest& request) const
    {
        IgnoreBrokenPipes();
        return RunConsole(argc, argv, request);
    }
    int operator()(const DiscoverRequest& request) const
    {
        IgnoreBrokenPipes();
        return RunDiscover(argc, argv, request);
    }
    int operator()(const ConnectRequest& request) const
    {
        IgnoreBrokenPipes();
        return RunConnect(argc, argv, request);
    }
    int operator()(const LineRequest& request) const { return RunLine(argc, argv, request); }
    int operator()(const ReportRequest& request) const { return RunReport(argc, argv, request); }
};

} // namespace

int main(int argc, char** argv)
{
    OpenMissingStandardDescriptors();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    return std::visit(Run{argc, argv}, RunCommandLine(args));
}
