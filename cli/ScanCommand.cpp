#include "Subcommands.h"

#include "Options.h"
#include "Output.h"

namespace qz::cli {

namespace {

struct ScanOptions {
    std::optional<std::string> timeout;
    std::optional<std::string> adapter;
    bool json = false;
};

const std::vector<Member<ScanOptions>>& scanMembers()
{
    using O = ScanOptions;
    static const std::vector<Member<O>> members = {
        {"timeout", &O::timeout}, {"adapter", &O::adapter}, {"json", nullptr, &O::json}};
    return members;
}

} // namespace

Outcome RunScanCommand(const std::vector<std::string_view>& args)
{
    std::variant<ParsedOptions, Printed> parsed = ParseOptions(
        args, 1, {}, [](std::string_view name) { return FindIn(airOptions(), name); }, "scan",
        "Usage: qzconfig scan [--timeout=SECONDS] [--adapter=NAME] [--json]\n" + AirHelp());
    if (auto* words = std::get_if<Printed>(&parsed))
        return std::move(*words);
    const ScanOptions options = Filled(std::get<ParsedOptions>(parsed).values, scanMembers());
    if (std::optional<Printed> problem = airProblem(options.timeout, "timeout", options.adapter, seeHelpOf("scan")))
        return *problem;
    return ScanRequest{airSettings(options.timeout, options.adapter, options.json)};
}

} // namespace qz::cli
