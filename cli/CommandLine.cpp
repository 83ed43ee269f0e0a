#include "CommandLine.h"

#include "BeaconList.h"
#include "BroadcastList.h"
#include "StudyList.h"
#include "Vendor.h"

#include <array>
#include <map>
#include <optional>

namespace qz::cli {

namespace {

enum class OptionKind { Text, UUIDType, Flag };

// One option of a subcommand: the edit or control it stands for on the window, with
// that control's initial state and (for edits) its maximum length in bytes.
struct OptionSpec {
    std::string_view name;
    OptionKind kind;
    std::size_t maxLength;
    std::string_view initial;
    std::string_view help;
};

using Values = std::map<std::string_view, std::string>;

struct SubcommandSpec {
    std::string_view name;
    std::string_view summary;
    std::vector<OptionSpec> options;
    GeneratorResult (*generate)(const Values&);
    std::string_view example;
};

bool isFlagSet(const Values& values, std::string_view name)
{
    return !values.at(name).empty();
}

int uuidTypeIndex(const std::string& value)
{
    return value == "128" ? UUIDType128Bit : UUIDType16Bit;
}

const std::array<SubcommandSpec, 3>& subcommands()
{
    static const std::array<SubcommandSpec, 3> table{{
        {"study",
         "master-role self-learning of a slave device's notify and write characteristics",
         {
             {"uuid-type", OptionKind::UUIDType, 0, "16", "UUID form of the slave device: 16 or 128"},
             {"notify", OptionKind::Text, 36, "FFE1", "UUID of the characteristic with the notify property"},
             {"write", OptionKind::Text, 36, "FFE1", "UUID of the characteristic with the write property"},
         },
         [](const Values& v) {
             return BuildStudyList(uuidTypeIndex(v.at("uuid-type")), v.at("notify"), v.at("write"));
         },
         "qzconfig study --uuid-type=128 --notify 0000FFE1-0000-1000-8000-00805F9B34FB \\\n"
         "      --write 0000FFE2-0000-1000-8000-00805F9B34FB"},
        {"ibeacon",
         "advertising as an iBeacon in slave role",
         {
             {"uuid", OptionKind::Text, 36, "0000FFF0-0000-1000-8000-00805F9B34FB", "beacon UUID, 32 hex digits"},
             {"major", OptionKind::Text, 5, "10123", "major value: 4 hex digits or 5 decimal digits"},
             {"minor", OptionKind::Text, 5, "10125", "minor value: 4 hex digits or 5 decimal digits"},
         },
         [](const Values& v) { return BuildBeaconList(v.at("uuid"), v.at("major"), v.at("minor")); },
         "qzconfig ibeacon --major=04D2 --minor 01235"},
        {"broadcast",
         "device name, device address, advertising and scan-response packages",
         {
             {"name", OptionKind::Text, 15, "QZSoft", "device name"},
             {"address", OptionKind::Text, 12, "", "device address, 12 hex digits"},
             {"advert", OptionKind::Text, 64, "", "advertising package in hex"},
             {"scan", OptionKind::Text, 64, "", "scan-response package in hex"},
             {"same", OptionKind::Flag, 0, "", "send the advertising package as the scan response too"},
         },
         [](const Values& v) {
             return BuildBroadcastList(v.at("name"), v.at("address"), v.at("advert"), v.at("scan"),
                                       isFlagSet(v, "same"));
         },
         "qzconfig broadcast --name=Kitchen --address=000E0B123456 --advert=0x0201060302F0FF --same"},
    }};
    return table;
}

std::string_view optionForField(Field field)
{
    switch (field) {
    case Field::edtCharNotify: return "--notify";
    case Field::edtCharWrite: return "--write";
    case Field::edtiBeaconUUID: return "--uuid";
    case Field::edtiBeaconMajor: return "--major";
    case Field::edtiBeaconMinor: return "--minor";
    case Field::edtDeviceName: return "--name";
    case Field::edtDeviceAddress: return "--address";
    case Field::edtAdvert: return "--advert";
    case Field::edtScan: return "--scan";
    case Field::None: break;
    }
    return {};
}

// Echoes user input inside a one-line message: control bytes are written as \xNN.
std::string printable(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    for (char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 32 || code == 127)
            shown.append("\\x").append(1, hex[code / 16]).append(1, hex[code % 16]);
        else
            shown += c;
    }
    return shown;
}

Outcome usageError(const std::string& what)
{
    return {UsageError, {}, "qzconfig: " + what + "\n"};
}

std::string optionUsage(const OptionSpec& option)
{
    switch (option.kind) {
    case OptionKind::UUIDType: return "--" + std::string(option.name) + "=16|128";
    case OptionKind::Flag: return "--" + std::string(option.name);
    case OptionKind::Text: break;
    }
    return "--" + std::string(option.name) + "=TEXT";
}

std::string optionHelp(const OptionSpec& option)
{
    std::string line = "    " + optionUsage(option);
    line.append(line.size() < 24 ? 24 - line.size() : 1, ' ');
    line.append(option.help);
    if (option.kind == OptionKind::Text)
        line += ", at most " + std::to_string(option.maxLength) + " bytes";
    line.append("\n").append(24, ' ').append("default: ");
    if (option.kind == OptionKind::Flag)
        line += "off";
    else
        line += option.initial.empty() ? std::string("empty") : std::string(option.initial);
    return line + "\n";
}

std::string subcommandHelp(const SubcommandSpec& subcommand)
{
    std::string text = "  " + std::string(subcommand.name);
    text.append(11 - subcommand.name.size(), ' ');
    text.append(subcommand.summary).append("\n");
    for (const OptionSpec& option : subcommand.options)
        text += optionHelp(option);
    return text;
}

constexpr std::string_view helpClosing =
    "\n"
    "An option that is not given takes the initial state of its control on the window.\n"
    "Each option also takes its value as the next argument (--notify FFE1), whatever\n"
    "that argument is. When an option is given twice, the last one counts. Values are\n"
    "taken as the bytes given.\n"
    "\n"
    "Exit status:\n"
    "  0  the command list is on standard output, one line per entry\n"
    "  1  the input was refused: standard error holds \"qzconfig: --OPTION: MESSAGE\",\n"
    "     naming the option to mend (or \"qzconfig: MESSAGE\" when no single one is at fault)\n"
    "  2  usage error: unknown subcommand or option, missing or too long value\n";

std::string exampleLine(const SubcommandSpec& subcommand)
{
    return "  " + std::string(subcommand.example) + "\n";
}

std::string subcommandUsage(const SubcommandSpec& subcommand)
{
    std::string usage = "Usage: qzconfig " + std::string(subcommand.name);
    for (const OptionSpec& option : subcommand.options)
        usage += " [" + optionUsage(option) + "]";
    return usage + "\n\n" + subcommandHelp(subcommand) + std::string(helpClosing) + "\nExample:\n"
        + exampleLine(subcommand);
}

const SubcommandSpec* findSubcommand(std::string_view name)
{
    for (const SubcommandSpec& subcommand : subcommands()) {
        if (subcommand.name == name)
            return &subcommand;
    }
    return nullptr;
}

const OptionSpec* findOption(const SubcommandSpec& subcommand, std::string_view name)
{
    for (const OptionSpec& option : subcommand.options) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

std::string seeHelp(const SubcommandSpec& subcommand)
{
    return " (see qzconfig " + std::string(subcommand.name) + " --help)";
}

Outcome versionOutcome()
{
    return {Listed, "qzconfig " + std::string(ProductVersion) + "\n", {}};
}

// Checks the final values against what the window's controls can hold.
std::optional<Outcome> checkValues(const SubcommandSpec& subcommand, const Values& values)
{
    for (const OptionSpec& option : subcommand.options) {
        const std::string& value = values.at(option.name);
        if (option.kind == OptionKind::UUIDType && value != "16" && value != "128")
            return usageError("--" + std::string(option.name) + " must be 16 or 128, not '" + printable(value) + "'"
                              + seeHelp(subcommand));
        if (option.kind == OptionKind::Text && value.size() > option.maxLength)
            return usageError("--" + std::string(option.name) + " is " + std::to_string(value.size())
                              + " bytes long; its field holds at most " + std::to_string(option.maxLength)
                              + ", so shorten it" + seeHelp(subcommand));
    }
    return std::nullopt;
}

Outcome report(const GeneratorResult& result)
{
    if (const auto* rejection = std::get_if<Rejection>(&result)) {
        const std::string_view option = optionForField(rejection->field);
        std::string line = "qzconfig: ";
        if (!option.empty())
            line.append(option).append(": ");
        return {Refused, {}, line + rejection->message + "\n"};
    }
    std::string out;
    for (const std::string& line : std::get<CommandList>(result))
        out.append(line).append("\n");
    return {Listed, std::move(out), {}};
}

Outcome runSubcommand(const SubcommandSpec& subcommand, const std::vector<std::string_view>& args)
{
    Values values;
    for (const OptionSpec& option : subcommand.options)
        values[option.name] = std::string(option.initial);

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help")
            return {Listed, subcommandUsage(subcommand), {}};
        if (arg == "--version")
            return versionOutcome();
        if (arg.substr(0, 2) != "--")
            return usageError(std::string(subcommand.name) + ": unexpected argument '" + printable(arg)
                              + "'; every value follows its option" + seeHelp(subcommand));
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(2, equals == std::string_view::npos ? arg.npos : equals - 2);
        const OptionSpec* option = findOption(subcommand, name);
        if (option == nullptr)
            return usageError(std::string(subcommand.name) + ": unknown option '" + printable(arg.substr(0, equals))
                              + "'" + seeHelp(subcommand));
        const std::string dashed = "--" + std::string(option->name);
        if (option->kind == OptionKind::Flag) {
            if (equals != std::string_view::npos)
                return usageError(dashed + " takes no value; write " + dashed + " alone" + seeHelp(subcommand));
            values[option->name] = "1";
        } else if (equals != std::string_view::npos) {
            values[option->name] = std::string(arg.substr(equals + 1));
        } else if (i + 1 < args.size()) {
            values[option->name] = std::string(args[++i]);
        } else {
            return usageError(dashed + " needs a value; write " + dashed + "=VALUE or " + dashed + " VALUE"
                              + seeHelp(subcommand));
        }
    }
    if (std::optional<Outcome> invalid = checkValues(subcommand, values))
        return *invalid;
    return report(subcommand.generate(values));
}

} // namespace

std::string HelpText()
{
    std::string text =
        "Usage: qzconfig SUBCOMMAND [OPTIONS]\n"
        "       qzconfig --help | --version | SUBCOMMAND --help\n"
        "\n"
        "Prints the AT commands that set up a Kavrel BLE serial module, exactly as the\n"
        "Kavrel Config Assistant window lists them. Nothing is sent to any module.\n"
        "\n"
        "Subcommands:\n";
    for (const SubcommandSpec& subcommand : subcommands())
        text += subcommandHelp(subcommand);
    text += std::string(helpClosing) + "\nExamples:\n";
    for (const SubcommandSpec& subcommand : subcommands())
        text += exampleLine(subcommand);
    return text;
}

Outcome RunCommandLine(const std::vector<std::string_view>& args)
{
    constexpr std::string_view chooseOne = "; name one of study, ibeacon, broadcast (see qzconfig --help)";
    if (args.empty())
        return usageError("no subcommand given" + std::string(chooseOne));
    if (args[0] == "--help")
        return {Listed, HelpText(), {}};
    if (args[0] == "--version")
        return versionOutcome();
    const SubcommandSpec* subcommand = findSubcommand(args[0]);
    if (subcommand == nullptr)
        return usageError("unknown subcommand '" + printable(args[0]) + "'" + std::string(chooseOne));
    return runSubcommand(*subcommand, args);
}

} // namespace qz::cli
