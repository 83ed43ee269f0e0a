#include "Subcommands.h"

#include "Options.h"
#include "Output.h"

namespace qz::cli {

namespace {

struct DiscoverOptions {
    std::optional<std::string> port;
    std::optional<std::string> baud;
    std::optional<std::string> lineEnding;
    std::optional<std::string> timeout;
    bool json = false;
};

const std::vector<OptionSpec>& discoverOptions()
{
    static const std::vector<OptionSpec> options = [] {
        std::vector<OptionSpec> made = talkPortOptions();
        made.push_back({"timeout", OptionKind::Seconds, 0, "", "seconds the scan may take, 1 to 600; default: 15"});
        made.push_back({"json", OptionKind::Flag, 0, "", "answer in JSON"});
        return made;
    }();
    return options;
}

const std::vector<Member<DiscoverOptions>>& discoverMembers()
{
    using O = DiscoverOptions;
    static const std::vector<Member<O>> members = {{"port", &O::port},
                                                   {"baud", &O::baud},
                                                   {"line-ending", &O::lineEnding},
                                                   {"timeout", &O::timeout},
                                                   {"json", nullptr, &O::json}};
    return members;
}

} // namespace

Outcome RunDiscoverCommand(const std::vector<std::string_view>& args)
{
    std::variant<ParsedOptions, Printed> parsed = ParseOptions(
        args, 1, {}, [](std::string_view name) { return FindIn(discoverOptions(), name); }, "discover",
        talkUsage("discover", discoverOptions(),
                  "The module on the port, a central once it took the study page's list, scans\n"
                  "for devices (AT+DISC?). Standard output gets one line per device heard, in\n"
                  "the order heard: its number, its address and its name in quotes, where the\n"
                  "module tells it (after AT+SHOW1):\n"
                  "  1  00:17:EA:09:43:AE  \"Lamp-01\"\n"
                  "With --json, {\"devices\": [...], \"cut\": false}, each device an object with\n"
                  "type, address and name (null when unknown). At most 200 devices are listed;\n"
                  "past them standard error says \"200 devices listed; more were heard\" and\n"
                  "\"cut\" is true. Exit status 0 with a device heard; 4 with none, or when the\n"
                  "module did not end its scan (OK+DISCE) in time; 3 when the port failed.\n"));
    if (auto* words = std::get_if<Printed>(&parsed))
        return std::move(*words);
    const DiscoverOptions options = Filled(std::get<ParsedOptions>(parsed).values, discoverMembers());
    const PortSettingsOptions settings{options.baud, options.lineEnding, std::nullopt};
    if (std::optional<Printed> problem = talkPortProblem("discover", options.port, settings))
        return *problem;
    if (std::optional<Printed> problem = airProblem(options.timeout, "timeout", std::nullopt, seeHelpOf("discover")))
        return *problem;
    DiscoverRequest request;
    request.port = *options.port;
    request.settings = portSettings(settings);
    if (options.timeout)
        request.timeLimit = std::chrono::seconds(DecimalValue(*options.timeout));
    request.json = options.json;
    return request;
}

} // namespace qz::cli
