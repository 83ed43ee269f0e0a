#include "CommandLine.h"

#include "Output.h"
#include "Pages.h"

#include "Batch.h"
#include "BeaconList.h"
#include "BroadcastList.h"

#include <algorithm>

namespace qz::cli {

namespace {

// A module's values, as the page's options would be given; refused or taken by the button.
struct Module {
    Values values;
    std::vector<std::string> varying;
};

Outcome refusedRow(const std::string& where, const Rejection& rejection)
{
    return {Refused, {}, RefusalLine(where, rejection)};
}

// The page's own refusal of a counted option that runs past its largest value.
std::string_view topMessage(std::string_view option)
{
    if (option == "major")
        return BeaconMajorMessage;
    if (option == "minor")
        return BeaconMinorMessage;
    return DeviceAddressMessage;
}

std::variant<std::vector<Module>, Outcome> countedModules(const SubcommandSpec& page, const Values& base,
                                                          const BatchRequest& request)
{
    const batch::Counting counting = batch::CountValues(request.countOption, base.at(request.countOption), request.modules);
    if (counting.passesTheTop)
        return Outcome{Refused, {}, "qzconfig: --" + request.countOption + ": " + std::string(topMessage(request.countOption))
                                        + "\n"};
    if (!counting.problem.empty())
        return usageError("--count=" + request.countOption + ": " + counting.problem + seeHelp(page));
    std::vector<Module> modules;
    for (const std::string& value : counting.values) {
        Module module{base, {value}};
        module.values[findOption(page, request.countOption)->name] = value;
        modules.push_back(std::move(module));
    }
    return modules;
}

std::variant<std::vector<Module>, Outcome> listedModules(const SubcommandSpec& page, const Values& base,
                                                         const BatchRequest& request, std::string_view text,
                                                         std::vector<std::string>& columns)
{
    const std::string file = printable(request.valuesFile);
    std::size_t offset = 0;
    std::vector<std::string> fields;
    if (!batch::ReadCsvRecord(text, offset, columns) || (columns.size() == 1 && columns[0].empty()))
        return usageError("--values " + file + ": the file is empty; its first line names the options, like name,address");
    std::vector<const OptionSpec*> options;
    for (const std::string& column : columns) {
        const OptionSpec* option = findOption(page, column);
        if (option == nullptr || (option->kind != OptionKind::Text && option->kind != OptionKind::UUIDType))
            return usageError("--values " + file + ": '" + printable(column) + "' is no option of the " + std::string(page.name)
                              + " page" + seeHelp(page));
        if (std::count(columns.begin(), columns.end(), column) > 1)
            return usageError("--values " + file + ": '" + printable(column) + "' is named twice" + seeHelp(page));
        options.push_back(option);
    }
    std::vector<Module> modules;
    for (std::size_t line = 2; batch::ReadCsvRecord(text, offset, fields); ++line) {
        if (fields.size() == 1 && fields[0].empty())
            continue; // a blank line
        const std::string where = file + " line " + std::to_string(line) + ": ";
        if (fields.size() != columns.size())
            return Outcome{Refused, {}, "qzconfig: " + where + std::to_string(fields.size()) + " values, and the first "
                                            "line names " + std::to_string(columns.size()) + "\n"};
        Module module{base, fields};
        for (std::size_t at = 0; at < fields.size(); ++at) {
            if (std::optional<std::string> problem = valueProblem(*options[at], fields[at]))
                return Outcome{Refused, {}, "qzconfig: " + where + *problem + "\n"};
            module.values[options[at]->name] = fields[at];
        }
        modules.push_back(std::move(module));
    }
    if (modules.empty())
        return usageError("--values " + file + ": no module's values under its first line" + seeHelp(page));
    return modules;
}

} // namespace

std::variant<BatchPlan, Outcome> PlanBatch(const BatchRequest& request, std::string_view valuesText,
                                           std::string_view recordText)
{
    const SubcommandSpec* found = findSubcommand(request.subcommand);
    if (found == nullptr)
        return usageError("unknown subcommand '" + printable(request.subcommand) + "'");
    const SubcommandSpec& page = *found;
    Values base;
    for (const auto& [name, value] : request.values)
        base[findOption(page, name)->name] = value;
    BatchPlan plan;
    std::variant<std::vector<Module>, Outcome> modules = request.valuesFile.empty()
        ? countedModules(page, base, request)
        : listedModules(page, base, request, valuesText, plan.varying);
    if (const auto* problem = std::get_if<Outcome>(&modules))
        return *problem;
    if (request.valuesFile.empty())
        plan.varying = {request.countOption};
    const auto& list = std::get<std::vector<Module>>(modules);
    for (std::size_t at = 0; at < list.size(); ++at) {
        const GeneratorResult result = page.generate(list[at].values);
        if (const auto* rejection = std::get_if<Rejection>(&result)) {
            const std::string where = request.valuesFile.empty()
                ? ""
                : printable(request.valuesFile) + " line " + std::to_string(at + 2) + ": ";
            return refusedRow(where, *rejection);
        }
        plan.units.push_back(list[at].varying);
        plan.commands.push_back(std::get<CommandList>(result).commands);
    }

    // The record: a header like this batch's, then rows; those set up are done already.
    const std::vector<std::string> header = batch::RecordHeader(plan.varying);
    std::size_t offset = 0;
    std::vector<std::string> fields;
    plan.writeHeader = recordText.find_first_not_of(" \r\n") == std::string_view::npos;
    if (!plan.writeHeader)
        batch::ReadCsvRecord(recordText, offset, fields);
    if (!plan.writeHeader && fields != header)
        return usageError("--record " + printable(request.recordFile) + " records another batch: its columns are "
                          + printable(batch::CsvLine(fields).substr(0, batch::CsvLine(fields).size() - 1))
                          + ", and this batch's are "
                          + batch::CsvLine(header).substr(0, batch::CsvLine(header).size() - 1) + seeHelp(page));
    const std::size_t resultColumn = header.size() - 2;
    while (batch::ReadCsvRecord(recordText, offset, fields)) {
        if (fields.size() == header.size() && fields[resultColumn] == batch::SetUpResult)
            plan.setUp.emplace_back(fields.begin() + 2, fields.begin() + 2 + static_cast<std::ptrdiff_t>(plan.varying.size()));
    }
    return plan;
}


} // namespace qz::cli
