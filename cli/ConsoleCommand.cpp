#include "Subcommands.h"

#include "Options.h"
#include "Output.h"

namespace qz::cli {

namespace {

struct ConsoleOptions {
    std::optional<std::string> port;
    std::optional<std::string> baud;
    std::optional<std::string> lineEnding;
    std::optional<std::string> timeout;
};

const std::vector<OptionSpec>& consoleOptions()
{
    static const std::vector<OptionSpec> options = [] {
        std::vector<OptionSpec> made = talkPortOptions();
        made.push_back({"timeout", OptionKind::Timeout, 0, "1000", "milliseconds to wait for a reply, 100 to 60000"});
        return made;
    }();
    return options;
}

const std::vector<Member<ConsoleOptions>>& consoleMembers()
{
    using O = ConsoleOptions;
    static const std::vector<Member<O>> members = {
        {"port", &O::port}, {"baud", &O::baud}, {"line-ending", &O::lineEnding}, {"timeout", &O::timeout}};
    return members;
}

} // namespace

std::string TalkHelp()
{
    return "\n"
           "Talking with the module:\n"
           "  console --port=PATH [--baud=RATE] [--line-ending=END] [--timeout=MS]\n"
           "             sends each line of standard input to the module as it stands, the\n"
           "             next once the reply to the one before is in, and prints \"> LINE\"\n"
           "             and \"< REPLY\" (or \"< (no reply)\"); nothing else is sent; a line\n"
           "             ends at LF, CR LF or a lone CR\n"
           "  discover --port=PATH [--timeout=SECONDS] [--json]\n"
           "             the module, a central once the study page's list is taken, scans\n"
           "             (AT+DISC?) for up to 15 s: one line per device heard, its number,\n"
           "             address and name (the name once the module took AT+SHOW1)\n"
           "  connect --port=PATH --to=ADDRESS|NUMBER|NAME [--type=CHAR] [--linger=SECONDS]\n"
           "             connects the module to a device (AT+CO): a number is the device the last\n"
           "             discover on the port listed under it, kept 10 minutes; an address or a\n"
           "             name is found in it, or by a discovery, unless --type is given with an\n"
           "             address; then passes\n"
           "             standard input to the device and its bytes to standard output\n"
           "             until the end of input (and --linger seconds more, 1 unless\n"
           "             given), or Ctrl-C; then ends the link with a lone AT\n"
           "They take --baud and --line-ending as a send does. Exit status 4: a command\n"
           "got no reply, no device was heard or the scan did not finish, or the module\n"
           "did not connect; 3: the port failed, or the module refused to scan.\n";
}

Outcome RunConsoleCommand(const std::vector<std::string_view>& args)
{
    std::variant<ParsedOptions, Printed> parsed = ParseOptions(
        args, 1, {}, [](std::string_view name) { return FindIn(consoleOptions(), name); }, "console",
        talkUsage("console", consoleOptions(),
                  "Sends each line of standard input to the module on the port as a command, the\n"
                  "next once the reply to the one before is in, and prints each exchange:\n"
                  "\"> COMMAND\", then \"< REPLY\" or \"< (no reply)\". Nothing else is sent, not even\n"
                  "AT. Exit status 0 when every command got a reply, 4 when one got none, 3 when\n"
                  "the port failed.\n"));
    if (auto* words = std::get_if<Printed>(&parsed))
        return std::move(*words);
    const ConsoleOptions options = Filled(std::get<ParsedOptions>(parsed).values, consoleMembers());
    const PortSettingsOptions settings{options.baud, options.lineEnding, options.timeout};
    if (std::optional<Printed> problem = talkPortProblem("console", options.port, settings))
        return *problem;
    return ConsoleRequest{*options.port, portSettings(settings)};
}

} // namespace qz::cli
