#include "RunBatch.h"

#include "Output.h"
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
            {"failed", line.failed}, {"left", line.left}, {"ports", ports}};
}

} // namespace

namespace {

int runLine(const LineRequest& request)
{
    const DatabaseAddress address = std::get<DatabaseAddress>(ReadDatabaseAddress(request.record));
    RecordDatabase record(address, BenchName(), false);
    std::string why;
    RecordDatabase::Line line;
    if (record.take(why) == BatchRecord::Taken::Yes)
        why = record.line(line);
    if (!why.empty()) {
        WriteErr("qzconfig: " + printable(why) + "\n");
        return SendFailed;
    }
    if (request.json)
        return WriteOut(lineJson(address.batch, line).dump(2) + "\n") ? Listed : CannotWriteOutput();
    std::string text = "batch " + address.batch + ": " + std::to_string(line.claimed) + " of "
        + std::to_string(line.total) + " claimed, " + std::to_string(line.setUp) + " set up, "
        + std::to_string(line.failed) + " failed, " + std::to_string(line.left) + " left\n";
    for (const RecordDatabase::PortLine& port : line.ports)
        text += portLine(port);
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

} // namespace qz::cli
