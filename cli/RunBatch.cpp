#include "RunBatch.h"

#include "BatchFiles.h"
#include "BatchRunner.h"
#include "RecordLock.h"
#include "Output.h"
#include "PageCommand.h"
#include "Process.h"
#include "StandardStreams.h"

#include <QCoreApplication>

#include <atomic>
#include <set>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace qz::cli {

namespace {

// While a batch runs, a line on standard input names the port whose module was swapped.
std::atomic<BatchRunner*> lineListener{nullptr};

std::string readWhole(const std::string& path, bool& missing)
{
    std::ifstream file(path, std::ios::binary);
    missing = !file;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

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
std::string unitWords(const PageSpec& page, const batch::Plan& plan, const batch::Values& unit)
{
    std::string words;
    for (Field field : plan.varying)
        words += (words.empty() ? "" : " ") + optionForField(field) + "=" + serial::EscapedBytes(batch::ValueOf(page, unit, field));
    return words;
}

// What a batch would do, module by module: "Module 3: --name=Lamp-03 --address=000E0B000003",
// then its commands; or that the record shows it done, or its values carried.
std::string dryRunText(const PageSpec& page, const batch::Plan& plan, const BatchRequest& request)
{
    std::multiset<batch::Values> setUp(plan.setUp.begin(), plan.setUp.end());
    std::multiset<batch::Values> carried(plan.carried.begin(), plan.carried.end());
    std::string text;
    for (std::size_t unit = 0; unit < plan.units.size(); ++unit) {
        text += "Module " + std::to_string(unit + 1) + ": " + unitWords(page, plan, plan.units[unit]);
        if (const auto done = setUp.find(plan.units[unit]); done != setUp.end()) {
            setUp.erase(done);
            text += ": set up already, as the record shows\n";
            continue;
        }
        if (const auto kept = carried.find(plan.units[unit]); kept != carried.end() && !request.retryFailed) {
            carried.erase(kept);
            text += ": left out, taken by a module that failed, as the record shows\n";
            continue;
        }
        text += "\n" + joinedLines(plan.commands[unit]);
    }
    return text;
}

// Files that cannot be what they are asked to be are bad input, found before any port opens.
std::optional<std::string> fileProblem(const BatchRequest& request)
{
    if (!request.valuesFile.empty()) {
        if (const std::string problem = BatchFileProblem(request.valuesFile, BatchFile::Values); !problem.empty())
            return "--values " + serial::EscapedBytes(request.valuesFile) + ": " + serial::EscapedBytes(problem);
    }
    if (request.recordFile.empty())
        return std::nullopt; // a dry run without a record
    if (const std::string problem = BatchFileProblem(request.recordFile, BatchFile::Record); !problem.empty())
        return "--record " + serial::EscapedBytes(request.recordFile) + ": " + serial::EscapedBytes(problem);
    return std::nullopt;
}

} // namespace

int RunBatch(int argc, char** argv, const BatchRequest& request)
{
    const PageSpec& page = *request.page;
    if (std::optional<std::string> problem = fileProblem(request)) {
        WriteErr("qzconfig: " + *problem + seeHelp(page) + "\n");
        return UsageError;
    }
    RecordLock recordLock;
    if (!request.dryRun) {
        if (const std::string held = recordLock.take(request.recordFile); !held.empty()) {
            WriteErr("qzconfig: --record " + serial::EscapedBytes(request.recordFile) + ": "
                     + serial::EscapedBytes(held) + "; one batch per record\n");
            return UsageError;
        }
    }
    bool missing = false;
    std::string valuesText;
    if (!request.valuesFile.empty()) {
        valuesText = readWhole(request.valuesFile, missing);
        if (missing) {
            WriteErr("qzconfig: --values " + serial::EscapedBytes(request.valuesFile) + ": cannot read it: "
                     + std::strerror(errno) + "\n");
            return UsageError;
        }
    }
    if (request.air && !request.dryRun) {
        if (const std::string why = AirScanner::CannotListen(request.air->adapter); !why.empty()) {
            WriteErr("qzconfig: cannot listen over the air: " + why + "\n");
            return SendFailed;
        }
    }
    const std::string recordText = readWhole(request.recordFile, missing);
    std::variant<batch::Plan, Printed> planned = PlanBatch(request, valuesText, recordText);
    if (const auto* outcome = std::get_if<Printed>(&planned)) {
        const bool written = WriteOut(outcome->out);
        WriteErr(outcome->err);
        return written ? outcome->status : CannotWriteOutput();
    }
    const batch::Plan& plan = std::get<batch::Plan>(planned);
    if (request.dryRun)
        return WriteOut(dryRunText(page, plan, request)) ? Listed : CannotWriteOutput();

    const std::string recordName = serial::EscapedBytes(request.recordFile);
    std::FILE* record = std::fopen(request.recordFile.c_str(), "ab");
    const auto write = [record](const std::string& line) {
        return std::fwrite(line.data(), 1, line.size(), record) == line.size() && std::fflush(record) == 0;
    };
    if (record == nullptr || (!plan.opening.empty() && !write(plan.opening))) {
        WriteErr("qzconfig: --record " + recordName + ": cannot write it: " + std::strerror(errno) + "\n");
        if (record != nullptr)
            std::fclose(record);
        return SendFailed;
    }

    batch::Batch batch(plan.units, plan.setUp, {plan.takenToCarry, plan.carried, request.retryFailed});
    batch.StopAfterFailuresInARow(request.maxFailuresInARow);
    if (batch.Resumed() > 0)
        WriteOut("The record shows " + std::to_string(batch.Resumed()) + " of " + std::to_string(batch.Total())
                 + " modules set up already\n");
    if (batch.Carried() > 0)
        WriteOut("The record shows " + std::to_string(batch.Carried())
                 + " more taken by modules that failed: they are left out, as those modules may carry them; once "
                   "they are back on the bench, --retry-failed sets them up again\n");
    if (batch.Finished()) {
        std::fclose(record);
        return WriteOut(summary(batch)) ? Listed : CannotWriteOutput();
    }

    QCoreApplication application(argc, argv);
    BatchRunner runner(batch, plan.commands, request.ports, request.settings);
    if (request.air)
        runner.verifyOverTheAir(request.air->seconds.value_or(0), request.air->adapter);
    const bool several = request.ports.size() > 1;
    const auto prefix = [several](const std::string& port) {
        return several ? "[" + serial::EscapedBytes(port) + "] " : std::string();
    };
    int interruptedStatus = 0;
    bool recordFailed = false;
    WatchInterruptions([&](int exitStatus) {
        interruptedStatus = exitStatus;
        runner.stop();
    });
    QObject::connect(&runner, &BatchRunner::moduleStarted, [&](const std::string& port, std::size_t unit) {
        WriteOut(prefix(port) + "Module on " + serial::EscapedBytes(port) + ": "
                 + unitWords(page, plan, batch.Unit(unit)) + "\n");
    });
    QObject::connect(&runner, &BatchRunner::exchanged, [&](const std::string& port, const serial::Exchange& exchange) {
        if (!WriteOut(prefix(port) + serial::TranscriptLine(exchange) + "\n"))
            runner.stop();
    });
    QObject::connect(&runner, &BatchRunner::moduleEnded,
                     [&](const std::string& port, std::size_t unit, const serial::Verdict& verdict) {
                         if (!write(batch::RecordLine(UtcTimestamp(), port, batch.Unit(unit), verdict.taken,
                                                      verdict.total, verdict.succeeded(), verdict.message))) {
                             WriteErr("qzconfig: --record " + recordName + ": cannot write it: " + std::strerror(errno)
                                      + "\n");
                             recordFailed = true;
                             runner.stop();
                         }
                         const std::string words = verdictWords(verdict, request.settings.baudRate);
                         const std::string said = verdict.succeeded() ? words : "failed: " + words;
                         if (!WriteOut(prefix(port) + serial::EscapedBytes(said) + "\n"))
                             runner.stop();
                     });
    runner.holdingAModule(plan.portsHoldingAModule);
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
    std::fclose(record);

    if (batch.StoppedForFailures())
        WriteOut("Stopped: " + std::to_string(request.maxFailuresInARow)
                 + " modules in a row failed (--max-failures); look at the lot, the fixture and the settings\n");
    if (runner.radioLost())
        WriteOut("Stopped: nothing can listen over the air any more, so no further module was sent its list\n");
    WriteOut(summary(batch));
    if (OutputFailed())
        return CannotWriteOutput();
    if (recordFailed)
        return SendFailed;
    if (interruptedStatus != 0)
        return interruptedStatus;
    return batch.SetUpCount() == batch.Total() ? Listed : SendFailed;
}

} // namespace qz::cli
