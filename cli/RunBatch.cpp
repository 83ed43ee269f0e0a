#include "RunBatch.h"

#include "BatchRunner.h"
#include "Process.h"
#include "StandardStreams.h"

#include <QCoreApplication>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace qz::cli {

namespace {

// While a batch runs, Enter on standard input says that the modules were swapped by hand.
std::atomic<BatchRunner*> enterListener{nullptr};

std::string readWhole(const std::string& path, bool& missing)
{
    std::ifstream file(path, std::ios::binary);
    missing = !file;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Blocks on standard input, not the processor; Enter hands the event loop a next module.
void listenForEnter()
{
    std::thread([] {
        char line[256];
        while (std::fgets(line, sizeof line, stdin) != nullptr) {
            BatchRunner* runner = enterListener.load();
            if (runner != nullptr)
                QMetaObject::invokeMethod(runner, [runner] { runner->nextModule(); }, Qt::QueuedConnection);
        }
    }).detach();
}

std::string summary(const batch::Batch& batch)
{
    return std::to_string(batch.SetUpCount()) + " of " + std::to_string(batch.Total()) + " modules were set up\n";
}

} // namespace

int RunBatch(int argc, char** argv, const BatchRequest& request)
{
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
    const std::string recordText = readWhole(request.recordFile, missing);
    std::variant<BatchPlan, Outcome> planned = PlanBatch(request, valuesText, recordText);
    if (const auto* outcome = std::get_if<Outcome>(&planned)) {
        const bool written = WriteOut(outcome->out);
        WriteErr(outcome->err);
        return written ? outcome->status : CannotWriteOutput();
    }
    const BatchPlan& plan = std::get<BatchPlan>(planned);

    const std::string recordName = serial::EscapedBytes(request.recordFile);
    std::FILE* record = std::fopen(request.recordFile.c_str(), "ab");
    const auto writeRow = [record](const std::vector<std::string>& fields) {
        const std::string line = batch::CsvLine(fields);
        return std::fwrite(line.data(), 1, line.size(), record) == line.size() && std::fflush(record) == 0;
    };
    if (record == nullptr || (plan.writeHeader && !writeRow(batch::RecordHeader(plan.varying)))) {
        WriteErr("qzconfig: --record " + recordName + ": cannot write it: " + std::strerror(errno) + "\n");
        if (record != nullptr)
            std::fclose(record);
        return SendFailed;
    }

    batch::Batch batch(plan.units, plan.setUp);
    if (batch.Resumed() > 0)
        WriteOut("The record shows " + std::to_string(batch.Resumed()) + " of " + std::to_string(batch.Total())
                 + " modules set up already\n");
    if (batch.Finished()) {
        std::fclose(record);
        return WriteOut(summary(batch)) ? Listed : CannotWriteOutput();
    }

    QCoreApplication application(argc, argv);
    BatchRunner runner(batch, plan.commands, request.ports, request.settings);
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
    QObject::connect(&runner, &BatchRunner::exchanged, [&](const std::string& port, const serial::Exchange& exchange) {
        if (!WriteOut(prefix(port) + serial::TranscriptLine(exchange) + "\n"))
            runner.stop();
    });
    QObject::connect(&runner, &BatchRunner::moduleEnded,
                     [&](const std::string& port, std::size_t unit, const serial::Verdict& verdict) {
                         if (!writeRow(batch::RecordRow(UtcTimestamp(), port, batch.Values(unit), verdict.taken,
                                                        verdict.total, verdict.succeeded(), verdict.message))) {
                             WriteErr("qzconfig: --record " + recordName + ": cannot write it: " + std::strerror(errno)
                                      + "\n");
                             recordFailed = true;
                             runner.stop();
                         }
                         const std::string said = verdict.succeeded() ? verdict.message : "failed: " + verdict.message;
                         if (!WriteOut(prefix(port) + serial::EscapedBytes(said) + "\n"))
                             runner.stop();
                     });
    QObject::connect(&runner, &BatchRunner::waitingForModule, [&](const std::string& port) {
        WriteOut(prefix(port) + "Waiting for the next module on " + serial::EscapedBytes(port)
                 + ": plug it in, or press Enter once it is in place\n");
    });
    QObject::connect(&runner, &BatchRunner::finished, [] { QCoreApplication::exit(0); });
    enterListener = &runner;
    listenForEnter();
    QMetaObject::invokeMethod(&runner, [&runner] { runner.start(); }, Qt::QueuedConnection);
    QCoreApplication::exec();
    enterListener = nullptr;
    std::fclose(record);

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
