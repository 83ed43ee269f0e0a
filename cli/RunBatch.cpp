#include "RunBatch.h"

#include "BatchSession.h"
#include "Output.h"
#include "PageCommand.h"
#include "Process.h"
#include "StandardStreams.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdio>
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
        else
            text += "\n" + joinedLines(batch::CommandsOf(page, session.unit(unit)));
        if (!WriteOut(text))
            return false;
    }
    return true;
}

// Why the batch did not begin, in qzconfig's words, with its exit status.
int problemStatus(const BatchRequest& request, const BatchProblem& problem)
{
    const std::string values = "--values " + serial::EscapedBytes(request.valuesFile) + ": ";
    const std::string record = "--record " + serial::EscapedBytes(request.recordFile) + ": ";
    const std::string detail = serial::EscapedBytes(problem.detail);
    const std::string help = seeHelp(*request.page);
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
    case BatchProblem::CannotListen: return said("cannot listen over the air: " + problem.detail, SendFailed);
    case BatchProblem::Refused: break;
    }
    const Printed outcome = BatchRefusalWords(request, problem.refusal);
    const bool written = WriteOut(outcome.out);
    WriteErr(outcome.err);
    return written ? outcome.status : CannotWriteOutput();
}

BatchOrder orderOf(const BatchRequest& request)
{
    BatchOrder order;
    order.page = request.page;
    order.values = request.values;
    order.counted = request.counted;
    order.modules = request.modules;
    order.valuesFile = request.valuesFile;
    order.recordFile = request.recordFile;
    order.retryFailed = request.retryFailed;
    order.maxFailuresInARow = request.maxFailuresInARow;
    order.verify = request.air.has_value();
    if (request.air) {
        order.listenSeconds = request.air->seconds.value_or(0);
        order.adapter = request.air->adapter;
    }
    return order;
}

} // namespace

int RunBatch(int argc, char** argv, const BatchRequest& request)
{
    const PageSpec& page = *request.page;
    QCoreApplication application(argc, argv);
    BatchSession session(orderOf(request));
    if (std::optional<BatchProblem> problem = session.plan(request.dryRun))
        return problemStatus(request, *problem);
    if (request.dryRun)
        return printDryRun(page, session, request.retryFailed) ? Listed : CannotWriteOutput();
    if (std::optional<BatchProblem> problem = session.open(request.ports, request.settings))
        return problemStatus(request, *problem);

    batch::Batch& batch = session.batch();
    BatchRunner& runner = session.runner();
    if (!session.recordNote().empty())
        WriteErr("qzconfig: --record " + serial::EscapedBytes(request.recordFile) + ": "
                 + serial::EscapedBytes(session.recordNote()) + "\n");
    if (batch.Resumed() > 0)
        WriteOut("The record shows " + std::to_string(batch.Resumed()) + " of " + std::to_string(batch.Total())
                 + " modules set up already\n");
    if (batch.Carried() > 0)
        WriteOut("The record shows " + std::to_string(batch.Carried())
                 + " more taken by modules that failed: they are left out, as those modules may carry them; once "
                   "they are back on the bench, --retry-failed sets them up again\n");
    if (batch.Finished())
        return WriteOut(summary(batch)) ? Listed : CannotWriteOutput();

    const bool several = request.ports.size() > 1;
    const auto prefix = [several](const std::string& port) {
        return several ? "[" + serial::EscapedBytes(port) + "] " : std::string();
    };
    int interruptedStatus = 0;
    WatchInterruptions([&](int exitStatus) {
        interruptedStatus = exitStatus;
        runner.stop();
    });
    QObject::connect(&runner, &BatchRunner::moduleStarted, [&](const std::string& port, std::size_t unit) {
        WriteOut(prefix(port) + "Module on " + serial::EscapedBytes(port) + ": "
                 + unitWords(session, unit) + "\n");
    });
    QObject::connect(&runner, &BatchRunner::moduleUntold, [&](const std::string& port, const std::string& why) {
        WriteOut(prefix(port) + "The module did not tell its own address (" + serial::EscapedBytes(why)
                 + "): the record cannot tell it from another\n");
    });
    QObject::connect(&runner, &BatchRunner::moduleKnown, [&](const std::string& port, const std::string& words) {
        WriteOut(prefix(port) + "Sent nothing: " + serial::EscapedBytes(words) + "\n");
    });
    QObject::connect(&runner, &BatchRunner::exchanged, [&](const std::string& port, const serial::Exchange& exchange) {
        if (!WriteOut(prefix(port) + serial::TranscriptLine(exchange) + "\n"))
            runner.stop();
    });
    QObject::connect(&runner, &BatchRunner::moduleEnded,
                     [&](const std::string& port, std::size_t, const serial::Verdict& verdict) {
                         const std::string words = verdictWords(verdict, request.settings.baudRate);
                         const std::string said = verdict.succeeded() ? words : "failed: " + words;
                         if (!WriteOut(prefix(port) + serial::EscapedBytes(said) + "\n"))
                             runner.stop();
                     });
    QObject::connect(&session, &BatchSession::recordNotWritten, [&](const std::string& why) {
        WriteErr("qzconfig: --record " + serial::EscapedBytes(request.recordFile) + ": cannot write it: "
                 + serial::EscapedBytes(why) + "\n");
    });
    QObject::connect(&runner, &BatchRunner::heldFromRecord, [&](const std::string& port) {
        WriteOut(prefix(port) + "The record shows a module set up on " + serial::EscapedBytes(port)
                 + ": put the next one on, then press Enter\n");
    });
    QObject::connect(&runner, &BatchRunner::waitingForModule, [&](const std::string& port, bool present) {
        const std::string name = serial::EscapedBytes(port);
        WriteOut(prefix(port)
                 + (present ? "Waiting for the next module on " + name + ": plug it in, or press Enter once it is in place\n"
                            : "Waiting for " + name + " to appear: plug in its adapter\n"));
    });
    QObject::connect(&runner, &BatchRunner::listening,
                     [&](const std::string& port, std::size_t, const std::string& advice, int seconds) {
                         WriteOut(prefix(port) + "Listening over the air for the module on " + serial::EscapedBytes(port)
                                  + " for " + std::to_string(seconds) + " s\n");
                         if (!advice.empty())
                             WriteErr(prefix(port) + "qzconfig: " + advice + "\n");
                     });
    QObject::connect(&runner, &BatchRunner::heardOverTheAir,
                     [&](const std::string& port, std::size_t, const air::Verdict& verdict) {
                         for (const std::string& line : air::DescribeVerdict(verdict))
                             WriteOut(prefix(port) + printable(line) + "\n");
                     });
    QObject::connect(&runner, &BatchRunner::finished, [] { QCoreApplication::exit(0); });
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
        WriteOut("Stopped: " + std::to_string(request.maxFailuresInARow)
                 + " modules in a row failed (--max-failures); look at the lot, the fixture and the settings\n");
    if (runner.radioLost())
        WriteOut("Stopped: nothing can listen over the air any more, so no further module was sent its list\n");
    WriteOut(summary(batch));
    if (OutputFailed())
        return CannotWriteOutput();
    if (!session.recordFailure().empty())
        return SendFailed;
    if (interruptedStatus != 0)
        return interruptedStatus;
    return batch.SetUpCount() == batch.Total() ? Listed : SendFailed;
}

} // namespace qz::cli
