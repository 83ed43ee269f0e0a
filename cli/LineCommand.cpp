#include "Subcommands.h"

#include "Options.h"
#include "Output.h"
#include "RecordAddress.h"

namespace qz::cli {

std::string LineHelp()
{
    return "\n"
           "A line of benches:\n"
           "  line --record=postgresql://[USER@]HOST[:PORT]/DBNAME?batch=NAME [--json]\n"
           "             the state of a batch that several benches share in PostgreSQL:\n"
           "             units claimed, set up, failed and left, per bench and port,\n"
           "             and the last module of each; without ?batch=NAME, every batch\n"
           "             of the database with its counts\n"
           "  report --record=FILE|postgresql://...?batch=NAME [--json]\n"
           "             what a batch did, one row per module, its last word: its\n"
           "             values, its own address, bench and port, when it started and\n"
           "             ended, the result and what listening found; CSV, or JSON\n";
}

Outcome RunLineCommand(const std::vector<std::string_view>& args)
{
    static const std::vector<OptionSpec> options = {
        {"record", OptionKind::Text, 4096, "", "the batch's address in PostgreSQL"},
        {"json", OptionKind::Flag, 0, "", "answer in JSON"},
    };
    std::variant<ParsedOptions, Printed> parsed = ParseOptions(
        args, 1, {}, [](std::string_view name) { return FindIn(options, name); }, "line",
        "Usage: qzconfig line --record=postgresql://[USER@]HOST[:PORT]/DBNAME?batch=NAME [--json]\n" + LineHelp()
            + "\nExit status 0 with the batch's state; 2 when the address is none; 3 when the\n"
              "database cannot be reached or holds no such batch.\n");
    if (auto* words = std::get_if<Printed>(&parsed))
        return std::move(*words);
    const Values& values = std::get<ParsedOptions>(parsed).values;
    const auto record = values.find("record");
    if (record == values.end())
        return usageError("line needs --record=postgresql://HOST/DBNAME?batch=NAME (see qzconfig line --help)");
    const auto address = ReadDatabaseAddress(record->second, BatchName::Optional);
    if (const auto* why = std::get_if<std::string>(&address))
        return usageError("--record " + printable(ShownAddress(record->second)) + ": " + *why);
    return LineRequest{record->second, values.count("json") != 0};
}

Outcome RunReportCommand(const std::vector<std::string_view>& args)
{
    static const std::vector<OptionSpec> options = {
        {"record", OptionKind::Text, 4096, "", "the batch's record file, or its address in PostgreSQL"},
        {"json", OptionKind::Flag, 0, "", "answer in JSON"},
    };
    std::variant<ParsedOptions, Printed> parsed = ParseOptions(
        args, 1, {}, [](std::string_view name) { return FindIn(options, name); }, "report",
        "Usage: qzconfig report --record=FILE|postgresql://[USER@]HOST[:PORT]/DBNAME?batch=NAME [--json]\n" + LineHelp()
            + "\nExit status 0 with the report; 2 when the record is none; 3 when it cannot be\n"
              "read, or its database cannot be reached or holds no such batch.\n");
    if (auto* words = std::get_if<Printed>(&parsed))
        return std::move(*words);
    const Values& values = std::get<ParsedOptions>(parsed).values;
    const auto record = values.find("record");
    if (record == values.end())
        return usageError("report needs --record=FILE or --record=postgresql://HOST/DBNAME?batch=NAME (see qzconfig "
                          "report --help)");
    if (IsDatabaseAddress(record->second)) {
        const auto address = ReadDatabaseAddress(record->second);
        if (const auto* why = std::get_if<std::string>(&address))
            return usageError("--record " + printable(ShownAddress(record->second)) + ": " + *why);
    }
    return ReportRequest{record->second, values.count("json") != 0};
}

} // namespace qz::cli
