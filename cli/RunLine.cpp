#include "RunBatch.h"

#include "Output.h"
#include "BatchFiles.h"
#include "RecordDatabase.h"
#include "StandardStreams.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

#include <nlohmann/json.hpp>

namespace qz::cli {

namespace {

std::string portLine(const RecordDatabase::PortLine& port)
{
    return printable(port.bench) + "  " + printable(port.port) + "  " + std::to_string(port.claimed) + " claimed, "
        + std::to_string(port.setUp) + " set up, " + std::to_string(port.failed) + " failed; last: "
        + printable(port.lastUnitValues) + " (" + port.lastState + ", " + port.lastTime + ")\n";
}

nlohmann::json lineJson(const std::string& batch, const RecordDatabase::Line& line)
{
    nlohmann::json ports = nlohmann::json::array();
    for (const RecordDatabase::PortLine& port : line.ports)
        ports.push_back({{"bench", port.bench}, {"port", port.port}, {"claimed", port.claimed}, {"set_up", port.setUp},
                         {"failed", port.failed},
                         {"last", {{"values", port.lastUnitValues}, {"state", port.lastState}, {"time", port.lastTime}}}});
    return {{"batch", batch}, {"total", line.total}, {"claimed", line.claimed}, {"set_up", line.setUp},
            {"failed", line.failed}, {"cut_short", line.cutShort}, {"in_progress", line.inProgress},
            {"left", line.left}, {"ports", ports}};
}

} // namespace

namespace {

// "lot41  ibeacon  2026-12-08T14:03:22Z  38 of 40 claimed, 36 set up, 2 failed, 2 left"
int printBatches(RecordDatabase& record, bool json)
{
    std::vector<RecordDatabase::BatchLine> batches;
    if (const std::string why = record.batches(batches); !why.empty()) {
        WriteErr("qzconfig: " + printable(why) + "\n");
        return SendFailed;
    }
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const RecordDatabase::BatchLine& batch : batches)
            list.push_back({{"batch", batch.name}, {"page", batch.page}, {"created", batch.created},
                            {"total", batch.total}, {"claimed", batch.claimed}, {"set_up", batch.setUp},
                            {"failed", batch.failed}, {"left", batch.left}});
        return WriteOut(nlohmann::json{{"batches", list}}.dump(2) + "\n") ? Listed : CannotWriteOutput();
    }
    std::string text = batches.empty() ? "no batch was begun in this database\n" : std::string();
    for (const RecordDatabase::BatchLine& batch : batches)
        text += batch.name + "  " + batch.page + "  " + batch.created + "  " + std::to_string(batch.claimed) + " of "
            + std::to_string(batch.total) + " claimed, " + std::to_string(batch.setUp) + " set up, "
            + std::to_string(batch.failed) + " failed, " + std::to_string(batch.left) + " left\n";
    return WriteOut(text) ? Listed : CannotWriteOutput();
}

int runLine(const LineRequest& request)
{
    const DatabaseAddress address =
        std::get<DatabaseAddress>(ReadDatabaseAddress(request.record, BatchName::Optional));
    RecordDatabase record(address, BenchName(), false);
    std::string why;
    if (record.take(why) == BatchRecord::Taken::Yes && address.batch.empty())
        return printBatches(record, request.json);
    RecordDatabase::Line line;
    if (why.empty())
        why = record.line(line);
    if (!why.empty()) {
        WriteErr("qzconfig: " + printable(why) + "\n");
        return SendFailed;
    }
    if (request.json)
        return WriteOut(lineJson(address.batch, line).dump(2) + "\n") ? Listed : CannotWriteOutput();
    std::string text = "batch " + address.batch + ": " + LineCounts(line) + ", " + std::to_string(line.left) + " left\n";
    for (const RecordDatabase::PortLine& port : line.ports)
        text += portLine(port);
    return WriteOut(text) ? Listed : CannotWriteOutput();
}

nlohmann::json reportJson(const batch::Report& report)
{
    nlohmann::json modules = nlohmann::json::array();
    for (const batch::ReportRow& row : report.rows) {
        nlohmann::json values = nlohmann::json::object();
        for (std::size_t at = 0; at < report.fields.size() && at < row.values.size(); ++at)
            values[report.fields[at]] = row.values[at];
        modules.push_back({{"values", values}, {"module", row.module}, {"bench", row.bench}, {"port", row.port},
                           {"started", row.started}, {"ended", row.ended}, {"result", row.result},
                           {"message", row.message}, {"air", row.air}});
    }
    return {{"modules", modules}};
}

int runReport(const ReportRequest& request)
{
    batch::Report report;
    if (const std::string why = ReadBatchReport(request.record, report); !why.empty()) {
        // A database names its server itself; a file is named here.
        WriteErr("qzconfig: " + (IsDatabaseAddress(request.record) ? "" : "--record " + printable(request.record) + ": ")
                 + printable(why) + "\n");
        return SendFailed;
    }
    const std::string text = request.json ? reportJson(report).dump(2) + "\n" : batch::ReportCsv(report);
    return WriteOut(text) ? Listed : CannotWriteOutput();
}

} // namespace

int LeavingAbandonedCalls(int status)
{
    if (RecordDatabase::AnyCallAbandoned()) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }
    return status;
}

int RunLine(int argc, char** argv, const LineRequest& request)
{
    QCoreApplication application(argc, argv);
    return LeavingAbandonedCalls(runLine(request));
}

int RunReport(int argc, char** argv, const ReportRequest& request)
{
    QCoreApplication application(argc, argv);
    return LeavingAbandonedCalls(runReport(request));
}

} // namespace qz::cli
