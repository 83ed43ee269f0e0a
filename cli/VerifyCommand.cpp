#include "Subcommands.h"

#include "Output.h"
#include "PageCommand.h"

namespace qz::cli {

namespace {

struct VerifyOptions {
    std::optional<std::string> timeout;
    std::optional<std::string> adapter;
    bool json = false;
};

const std::vector<Member<VerifyOptions>>& verifyMembers()
{
    using O = VerifyOptions;
    static const std::vector<Member<O>> members = {
        {"timeout", &O::timeout}, {"adapter", &O::adapter}, {"json", nullptr, &O::json}};
    return members;
}

std::string verifyUsage(const SubcommandSpec& subcommand)
{
    std::string usage = "Usage: qzconfig verify " + std::string(subcommand.page->name);
    for (const OptionSpec& option : subcommand.options)
        usage += " [" + optionUsage(option) + "]";
    for (const OptionSpec& option : airOptions())
        usage += " [" + optionUsage(option) + "]";
    std::string text = usage + "\n\n" + PageHelp(subcommand);
    for (const OptionSpec& option : airOptions())
        text += optionHelp(option);
    return text + AirHelp();
}

} // namespace

std::string AirHelp()
{
    return "\n"
           "Listening over the air (Linux, through BlueZ):\n"
           "  verify PAGE [the page's options] [--timeout=SECONDS] [--adapter=NAME] [--json]\n"
           "             listens for the module that took the page's list and says whether\n"
           "             it advertises what the list gave it: an iBeacon's UUID, major and\n"
           "             minor; the broadcast device at its address with each structure of\n"
           "             its packages that BlueZ shows. A list without AT+RESET takes\n"
           "             effect only once the module restarts: qzconfig says so and listens\n"
           "             for 30 s instead of 10.\n"
           "  scan [--timeout=SECONDS] [--adapter=NAME] [--json]\n"
           "             lists every device heard, decoded as decode does\n"
           "With --port, --verify listens once the module took the list; in a batch a\n"
           "module not heard as set is recorded failed, its values staying with it.\n"
           "Without --adapter the first adapter that is on listens.\n"
           "Exit status 4: not heard as set; 3: nothing to listen with (no BlueZ, no\n"
           "adapter, none on), or the radio went away while listening (bluetoothd\n"
           "stopped, the adapter switched off or removed), which also stops a batch.\n"
           "With --json the answer is a JSON object on every exit, exit 3 included.\n";
}

Outcome RunVerifyCommand(const std::vector<std::string_view>& args)
{
    const std::string see = seeHelpOf("verify");
    if (args.size() < 2)
        return usageError("verify: name the page: ibeacon or broadcast" + see);
    if (isHelpRequest(args[1]))
        return printed("Usage: qzconfig verify PAGE [OPTIONS]\n" + AirHelp());
    const SubcommandSpec* subcommand = findSubcommand(args[1]);
    if (subcommand == nullptr)
        return usageError("verify: unknown page '" + printable(args[1]) + "'; name ibeacon or broadcast" + see);
    const std::string owner = "verify " + std::string(subcommand->page->name);
    if (!subcommand->page->advertises)
        return usageError(owner + ": " + std::string(air::SilentWords) + see);
    std::variant<ParsedOptions, Printed> parsed = ParseOptions(
        args, 2, PageInitialValues(*subcommand),
        [subcommand](std::string_view name) {
            const OptionSpec* option = FindIn(subcommand->options, name);
            return option != nullptr ? option : FindIn(airOptions(), name);
        },
        owner, verifyUsage(*subcommand));
    if (auto* words = std::get_if<Printed>(&parsed))
        return std::move(*words);
    const Values& values = std::get<ParsedOptions>(parsed).values;
    const VerifyOptions options = Filled(values, verifyMembers());
    const std::string seeVerify = seeHelpOf(owner);
    for (const OptionSpec& option : subcommand->options) {
        if (std::optional<std::string> problem = valueProblem(option, values.at(option.name)))
            return usageError(*problem + seeVerify);
    }
    if (std::optional<Printed> problem = airProblem(options.timeout, "timeout", options.adapter, seeVerify))
        return *problem;
    const GeneratorResult result = subcommand->page->generate(fieldValues(*subcommand->page, values));
    if (const auto* rejection = std::get_if<Rejection>(&result))
        return Printed{Refused, {}, RefusalLine({}, *rejection)};
    return VerifyRequest{air::ExpectedOnAir(std::get<CommandList>(result).advertised),
                         airSettings(options.timeout, options.adapter, options.json)};
}

} // namespace qz::cli
