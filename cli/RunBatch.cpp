#include "RunBatch.h"

#include "BatchSession.h"
#include "BatchWords.h"
#include "Output.h"
#include "PageCommand.h"
#include "RecordAddress.h"
#include "Process.h"
#include "StandardStreams.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace qz::cli {

namespace {

// While a batch runs, a line on standard input names the port whose module was swapped.
std::atomic<BatchRunner*> lineListener{nullptr};

// Blocks on standard input, not the processor; each line goes to the event loop.
void listenForLines(const std::function<void(const std::string&)>& onLine)
{
    std::thread([onLine] {
        char line[256];
        while (std::fgets(line, sizeof line, stdin) != nullptr) {
            BatchRunner* runner = lineListener.load();
            if (runner != nullptr)
                QMetaObject::invokeMethod(runner, [onLine, typed = std::string(line)] { onLine(typed); },
                                          Qt::QueuedConnection);
        }
    }).detach();
}

std::string summary(const batch::Batch& batch)
{
    return std::to_string(batch.SetUpCount()) + " of " + std::to_string(batch.Total()) + " modules were set up\n";
}

// "--minor=00FF": the values that make this module differ from the others.
std::string unitWords(const BatchSession& session, std::size_t unit)
{
    const batch::Plan& plan = session.planned();
    const std::vector<std::string> values = session.varyingValues(unit);
    std::string words;
    for (std::size_t at = 0; at < values.size(); ++at)
        words += (at == 0 ? "" : " ") + optionForField(plan.varying[at]) + "=" + serial::EscapedBytes(values[at]);
    return words;
}

// What a batch would do, module by module: "Module 3: --name=Lamp-03 --address=000E0B000003",
// then its commands; or that the record shows it done, or its values carried.
bool printDryRun(const PageSpec& page, const BatchSession& session, bool retryFailed)
{
    const batch::Plan& plan = session.planned();
    for (std::size_t unit = 0; unit < plan.units.size(); ++unit) {
        std::string text = "Module " + std::to_string(unit + 1) + ": " + unitWords(session, unit);
        if (plan.recorded[unit] == batch::Recorded::SetUp)
            text += ": set up already, as the record shows\n";
        else if (plan.recorded[unit] == batch::Recorded::Carried && !retryFailed)
            text += ": left out, taken by a module that failed, as the record shows\n";
        else if (plan.recorded[unit] == batch::Recorded::InProgress)
            text += ": being set up on another bench now, as the record shows\n";
        else
            text += "\n" + joinedLines(batch::CommandsOf(page, session.unit(unit)));
        if (!WriteOut(text))
            return false;
    }
    return true;
}

// The batch's name in a shared record's address.
std::string sharedBatchName(const BatchRequest& request)
{
    return std::get<DatabaseAddress>(ReadDatabaseAddress(request.order.recordFile)).batch;
}

// Why the batch did not begin, in qzconfig's words, with its exit status.
int problemStatus(const BatchRequest& request, const BatchProblem& problem)
{
    const std::string values = "--values " + serial::EscapedBytes(request.order.valuesFile) + ": ";
    const std::string record = "--record " + serial::EscapedBytes(ShownAddress(request.order.recordFile)) + ": ";
    const std::string detail = serial::EscapedBytes(problem.detail);
    const std::string help = seeHelp(*request.order.page);
    const auto said = [](const std::string& line, int status) {
        WriteErr("qzconfig: " + line + "\n");
        return status;
    };
    switch (problem.kind) {
    case BatchProblem::ValuesFile: return said(values + detail + help, UsageError);
    case BatchProblem::ValuesUnread: return said(values + "cannot read it: " + detail, UsageError);
    case BatchProblem::RecordFile: return said(record + detail + help, UsageError);
    case BatchProblem::RecordUnwritten: return said(record + "cannot write it: " + detail, SendFailed);
    case BatchProblem::RecordHeld: return said(record + detail + "; one batch per record", UsageError);
    case BatchProblem::RecordBroken: return said(record + detail, UsageError);
    case BatchProblem::RecordUnreachable: return said(detail, SendFailed);
    case BatchProblem::CannotListen: return said("cannot listen over the air: " + problem.detail, SendFailed);
    case BatchProblem::Refused: break;
    }
    const Printed outcome = BatchRefusalWords(request, problem.refusal);
    const bool written = WriteOut(outcome.out);
    WriteErr(outcome.err);
    return written ? outcome.status : CannotWriteOutput();
}

} // namespace

namespace {

int runBatch(const BatchRequest& request)
{
    const PageSpec& page = *request.order.page;
    BatchSession session(request.order);
    // Ctrl-C while the record is taken and planned (a server may be slow to answer) ends the
    // run at once: no module was sent anything yet. Once modules are being set up, it stops
    // them after the reply in flight.
    int interruptedStatus = 0;
    BatchRunner* running = nullptr;
    WatchInterruptions([&](int exitStatus) {
        interruptedStatus = exitStatus;
        if (running != nullptr) {
            running->stop();
            return;
        }
        WriteErr("qzconfig: interrupted before any module was sent anything\n");
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(exitStatus);
    });
    if (std::optional<BatchProblem> problem = session.plan(request.dryRun))
        return problemStatus(request, *problem);
    if (request.dryRun)
        return printDryRun(page, session, request.order.retryFailed) ? Listed : CannotWriteOutput();
    if (std::optional<BatchProblem> problem = session.open(request.ports, request.settings))
        return problemStatus(request, *problem);

    batch::Batch& batch = session.batch();
    BatchRunner& runner = session.runner();
    if (!session.recordNote().empty())
        WriteErr("qzconfig: --record " + serial::EscapedBytes(ShownAddress(request.order.recordFile)) + ": "
                 + serial::EscapedBytes(session.recordNote()) + "\n");
    if (batch.Resumed() > 0)
        WriteOut("The record shows " + std::to_string(batch.Resumed()) + " of " + std::to_string(batch.Total())
                 + " modules set up already\n");
    if (batch.Carried() > 0)
        WriteOut(batch::LeftOutWords(batch.Carried(), "--retry-failed") + "\n");
    if (batch.InProgress() > 0)
        WriteOut(batch::InProgressWords(batch.InProgress()) + "\n");
    if (batch.Finished()) {
        // A bench that joins a line whose units are all taken has nothing to do.
        const std::string lineCounts = session.lineCounts();
        if (!lineCounts.empty())
            return WriteOut("no module of batch " + sharedBatchName(request) + " is left: " + lineCounts + "\n")
                ? Listed
                : CannotWriteOutput();
        return WriteOut(summary(batch)) ? Listed : CannotWriteOutput();
    }

    const bool several = request.ports.size() > 1;
    const auto prefix = [several](const std::string& port) {
        return several ? "[" + serial::EscapedBytes(port) + "] " : std::string();
    };
    running = &runner;
    const auto said = [&](const std::string& port, const std::string& line) {
        if (!WriteOut(prefix(port) + line + "\n"))
            runner.stop();
    };
    QObject::connect(&session, &BatchSession::event, [&](const BatchEvent& happened) {
        namespace e = batchevent;
        std::visit(
            Overloaded{
                [&](const e::ModuleStarted& started) {
                    said(started.port, serial::EscapedBytes(batch::ModuleOnWords(started.port, unitWords(session, started.unit))));
                },
                [&](const e::Exchanged& exchanged) { said(exchanged.port, serial::TranscriptLine(exchanged.exchange)); },
                [&](const e::ModuleUntold& untold) {
                    said(untold.port, serial::EscapedBytes(batch::UntoldWords(untold.why)));
                },
                [&](const e::ModuleNote& note) { said(note.port, serial::EscapedBytes(note.words)); },
                [&](const e::PortUnopened& unopened) {
                    said(unopened.port, serial::EscapedBytes(batch::PortUnopenedWords(unopened.port, unopened.why)));
                },
                [&](const e::ModuleKnown& known) {
                    said(known.port, serial::EscapedBytes(batch::SentNothingWords(known.words)));
                },
                [&](const e::ModuleUnreached& unreached) {
                    said(unreached.port, serial::EscapedBytes("failed: " + verdictWords(unreached.verdict, request.settings.baudRate)));
                },
                [&](const e::ModuleEnded& ended) {
                    const std::string words = verdictWords(ended.verdict, request.settings.baudRate);
                    said(ended.port, serial::EscapedBytes(ended.verdict.succeeded() ? words : "failed: " + words));
                },
                [&](const e::RecordNotWritten& failed) {
                    // A database names its server itself; a file is named here.
                    WriteErr("qzconfig: "
                             + (IsDatabaseAddress(request.order.recordFile)
                                    ? std::string()
                                    : "--record " + serial::EscapedBytes(ShownAddress(request.order.recordFile)) + ": cannot write it: ")
                             + serial::EscapedBytes(failed.why) + "\n");
                },
                [&](const e::HeldFromRecord& held) {
                    said(held.port, serial::EscapedBytes(batch::HeldWords(held.port, held.state))
                                        + ": put the next one on, then press Enter");
                },
                [&](const e::WaitingForModule& waiting) {
                    const std::string name = serial::EscapedBytes(waiting.port);
                    said(waiting.port, waiting.present ? "Waiting for the next module on " + name
                                                             + ": plug it in, or press Enter once it is in place"
                                                       : "Waiting for " + name + " to appear: plug in its adapter");
                },
                [&](const e::Listening& listening) {
                    said(listening.port, "Listening over the air for the module on "
                                             + serial::EscapedBytes(listening.port) + " for "
                                             + std::to_string(listening.seconds) + " s");
                    if (!listening.advice.empty())
                        WriteErr(prefix(listening.port) + "qzconfig: " + listening.advice + "\n");
                },
                [&](const e::Heard& heard) {
                    for (const std::string& line : air::DescribeVerdict(heard.verdict))
                        WriteOut(prefix(heard.port) + printable(line) + "\n");
                },
                // qzconfig stops when the radio goes; it never pauses.
                [](const e::RadioPaused&) {},
                [](const e::RadioBack&) {},
                [](const e::RecordPaused&) {},
                [](const e::RecordBack&) {},
                [](const e::Finished&) { QCoreApplication::exit(0); },
            },
            happened);
    });
    lineListener = &runner;
    listenForLines([&runner](const std::string& line) {
        const batch::PortChoice choice = batch::ChoosePort(line, runner.ports(), runner.waitingForSwap());
        if (choice.port)
            runner.nextModule(runner.ports()[*choice.port]);
        else
            WriteOut(choice.problem + "\n");
    });
    QMetaObject::invokeMethod(&runner, [&runner] { runner.start(); }, Qt::QueuedConnection);
    QCoreApplication::exec();
    lineListener = nullptr;

    if (batch.StoppedForFailures())
        WriteOut("Stopped: " + std::to_string(request.order.maxFailuresInARow)
                 + " modules in a row failed (--max-failures); look at the lot, the fixture and the settings\n");
    if (runner.radioLost())
        WriteOut("Stopped: nothing can listen over the air any more, so no further module was sent its list\n");
    // A bench of a line ends when the line's batch has no unit left for it: its own
    // modules are a part of the whole, and it did its part when none of them failed.
    const std::string& sharedCounts = session.sharedCounts();
    const bool stopped = batch.StoppedForFailures() || runner.radioLost() || !session.recordFailure().empty()
        || interruptedStatus != 0;
    if (!sharedCounts.empty())
        WriteOut(std::to_string(batch.SetUpCount() - batch.Resumed()) + " modules were set up on this bench; "
                 + (stopped ? "batch " + sharedBatchName(request) + ": "
                            : "no module of batch " + sharedBatchName(request) + " is left: ")
                 + sharedCounts + "\n");
    else
        WriteOut(summary(batch));
    if (OutputFailed())
        return CannotWriteOutput();
    if (!session.recordFailure().empty())
        return SendFailed;
    if (interruptedStatus != 0)
        return interruptedStatus;
    if (!sharedCounts.empty())
        return batch.FailedCount() == 0 && !stopped ? Listed : SendFailed;
    return batch.SetUpCount() == batch.Total() ? Listed : SendFailed;
}

} // namespace

int RunBatch(int argc, char** argv, const BatchRequest& request)
{
    QCoreApplication application(argc, argv);
    return LeavingAbandonedCalls(runBatch(request));
}

} // namespace qz::cli
