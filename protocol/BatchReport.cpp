#include "BatchReport.h"

#include "AirMatch.h"

#include <algorithm>
#include <map>

namespace qz::batch {

namespace {

const std::vector<std::string> reportColumns = {"module", "bench", "port", "started", "ended", "result", "message", "air"};

} // namespace

void SplitMessage(std::string_view message, ReportRow& row)
{
    const std::size_t air = air::VerdictLineIn(message);
    row.message = std::string(message.substr(0, air));
    row.air = air == std::string_view::npos ? std::string() : std::string(message.substr(air + 2));
}

std::string ReadReport(std::string_view text, Report& report)
{
    std::size_t offset = 0;
    std::vector<std::string> header;
    if (!ReadCsvRecord(text, offset, header))
        return "it is empty";
    // time,port[,module],FIELDS...,[sent,]taken,total,result,message
    const auto column = [&](std::string_view name) {
        return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
    };
    const std::size_t moduleAt = column("module");
    const std::size_t firstField = moduleAt < header.size() ? moduleAt + 1 : 2;
    const std::size_t sentAt = std::min(column("sent"), column("taken"));
    if (header.size() < 6 || header[0] != "time" || header[1] != "port" || sentAt >= header.size()
        || sentAt <= firstField || column("result") >= header.size())
        return "its first line is no record's header (time,port,module,... ,result,message)";
    report.fields.assign(header.begin() + static_cast<std::ptrdiff_t>(firstField),
                         header.begin() + static_cast<std::ptrdiff_t>(sentAt));
    const std::size_t resultAt = column("result");
    const std::size_t messageAt = column("message");
    std::map<std::string, std::size_t> openOn; // by port: the row of the module being set up there
    std::map<std::string, std::size_t> rowOf;  // by module: its latest row
    std::vector<bool> superseded;
    std::vector<std::string> row;
    while (ReadCsvRecord(text, offset, row)) {
        if (row.size() < header.size())
            continue; // a line a crash cut short: its module's started row says what is known
        const std::string& port = row[1];
        const std::string module = moduleAt < header.size() ? row[moduleAt] : std::string();
        const bool started = row[resultAt] == StartedResult;
        const auto open = openOn.find(port);
        ReportRow* entry = nullptr;
        if (!started && open != openOn.end() && report.rows[open->second].module == module) {
            entry = &report.rows[open->second];
        } else {
            report.rows.push_back({});
            superseded.push_back(false);
            entry = &report.rows.back();
            entry->values.assign(row.begin() + static_cast<std::ptrdiff_t>(firstField),
                                 row.begin() + static_cast<std::ptrdiff_t>(sentAt));
            entry->module = module;
            entry->port = port;
            entry->started = row[0];
            const std::size_t index = report.rows.size() - 1;
            if (!module.empty()) {
                const auto earlier = rowOf.find(module);
                if (earlier != rowOf.end())
                    superseded[earlier->second] = true;
                rowOf[module] = index;
            }
        }
        entry->result = row[resultAt];
        if (started) {
            openOn[port] = report.rows.size() - 1;
        } else {
            entry->ended = row[0];
            SplitMessage(messageAt < row.size() ? row[messageAt] : std::string(), *entry);
            openOn.erase(port);
        }
    }
    // A module's last word only.
    std::vector<ReportRow> last;
    for (std::size_t at = 0; at < report.rows.size(); ++at) {
        if (!superseded[at])
            last.push_back(std::move(report.rows[at]));
    }
    report.rows = std::move(last);
    return {};
}

std::string ReportCsv(const Report& report)
{
    std::vector<std::string> header = report.fields;
    header.insert(header.end(), reportColumns.begin(), reportColumns.end());
    std::string csv = CsvLine(header);
    for (const ReportRow& row : report.rows) {
        std::vector<std::string> fields = row.values;
        fields.insert(fields.end(), {row.module, row.bench, row.port, row.started, row.ended, row.result, row.message,
                                     row.air});
        csv += CsvLine(fields);
    }
    return csv;
}

} // namespace qz::batch
