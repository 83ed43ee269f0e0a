#include "CommandLine.h"

#include "Decode.h"
#include "Output.h"
#include "PageCommand.h"
#include "Subcommands.h"

namespace qz::cli {

namespace {

using Subcommand = Outcome (*)(const std::vector<std::string_view>& args);

// Every subcommand beside the pages', by name, in the order the help tells them.
const std::vector<std::pair<std::string_view, Subcommand>>& otherSubcommands()
{
    static const std::vector<std::pair<std::string_view, Subcommand>> table = {
        {"decode", RunDecode},         {"ports", RunPortsCommand},       {"verify", RunVerifyCommand},
        {"scan", RunScanCommand},      {"console", RunConsoleCommand},   {"discover", RunDiscoverCommand},
        {"connect", RunConnectCommand}, {"line", RunLineCommand},         {"report", RunReportCommand},
    };
    return table;
}

// "; name one of study, ibeacon, ..., connect (see qzconfig --help)"
std::string chooseOne()
{
    std::string names;
    for (const SubcommandSpec& subcommand : pageSubcommands())
        names += (names.empty() ? "" : ", ") + std::string(subcommand.page->name);
    for (const auto& [name, run] : otherSubcommands())
        names += ", " + std::string(name);
    return "; name one of " + names + " (see qzconfig --help)";
}

} // namespace

std::string HelpText()
{
    std::string text =
        "Usage: qzconfig SUBCOMMAND [OPTIONS]\n"
        "       qzconfig --help | --version | SUBCOMMAND --help\n"
        "\n"
        "Prints the AT commands that set up a Kavrel BLE serial module, exactly as the\n"
        "Kavrel Config Assistant window lists them, or sends them to the module on a\n"
        "serial port and checks every reply.\n"
        "\n"
        "Subcommands:\n";
    for (const SubcommandSpec& subcommand : pageSubcommands())
        text += PageHelp(subcommand);
    text += ExplainHelp() + SessionHelp() + PortsHelp() + TalkHelp() + LineHelp() + AirHelp() + DecodeHelp() + HelpClosing()
        + "\nExamples:\n";
    for (const SubcommandSpec& subcommand : pageSubcommands())
        text += ExampleLine(subcommand);
    return text + SendExample(BeaconPage) + "  qzconfig decode 0x0201060302F0FF\n"
        + "  printf 'AT+ROLE?\\n' | qzconfig console --port=/dev/ttyUSB0\n";
}

Outcome RunCommandLine(const std::vector<std::string_view>& args)
{
    if (args.empty())
        return usageError("no subcommand given" + chooseOne());
    if (isHelpRequest(args[0]) || args[0] == "help")
        return printed(HelpText());
    if (args[0] == "--version")
        return versionOutcome();
    for (const auto& [name, run] : otherSubcommands()) {
        if (args[0] == name)
            return run(args);
    }
    const SubcommandSpec* subcommand = findSubcommand(args[0]);
    if (subcommand == nullptr)
        return usageError("unknown subcommand '" + printable(args[0]) + "'" + chooseOne());
    return RunPageCommand(*subcommand, args);
}

} // namespace qz::cli
