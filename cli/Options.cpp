#include "Options.h"

#include "Output.h"
#include "PageCommand.h"
#include "Vendor.h"

#include <algorithm>

namespace qz::cli {

namespace {

const std::map<std::string_view, serial::LineEnding>& lineEndings()
{
    static const std::map<std::string_view, serial::LineEnding> endings = {
        {"none", serial::LineEnding::None},
        {"cr", serial::LineEnding::CR},
        {"lf", serial::LineEnding::LF},
        {"crlf", serial::LineEnding::CRLF},
    };
    return endings;
}

bool isBaudRate(const std::string& value)
{
    return std::any_of(serial::SupportedBaudRates.begin(), serial::SupportedBaudRates.end(),
                       [&value](int rate) { return value == std::to_string(rate); });
}

bool isTimeout(const std::string& value)
{
    constexpr int shortest = 100;
    constexpr int longest = 60000;
    if (value.empty() || value.size() > 5 || !AllDecimalDigits(value))
        return false;
    const auto milliseconds = static_cast<int>(DecimalValue(value));
    return milliseconds >= shortest && milliseconds <= longest;
}

} // namespace

std::variant<ParsedOptions, Printed> ParseOptions(const std::vector<std::string_view>& args, std::size_t first,
                                                  Values initial, const OptionLookup& find, const std::string& owner,
                                                  const std::string& usage)
{
    ParsedOptions parsed;
    Values& values = parsed.values;
    values = std::move(initial);
    const std::string see = seeHelpOf(owner);
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (isHelpRequest(arg))
            return printed(usage);
        if (arg == "--version")
            return versionOutcome();
        if (arg.substr(0, 2) != "--")
            return usageError(owner + ": unexpected argument '" + printable(arg)
                              + "'; every value follows its option" + see);
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(2, equals == std::string_view::npos ? arg.npos : equals - 2);
        const OptionSpec* option = find(name);
        if (option == nullptr)
            return usageError(owner + ": unknown option '" + printable(arg.substr(0, equals)) + "'" + see);
        const std::string dashed = "--" + std::string(option->name);
        if (option->kind == OptionKind::Flag) {
            if (equals != std::string_view::npos)
                return usageError(dashed + " takes no value; write " + dashed + " alone" + see);
            values[option->name] = std::string(FlagOn);
        } else if (equals != std::string_view::npos) {
            values[option->name] = std::string(arg.substr(equals + 1));
        } else if (i + 1 < args.size()) {
            values[option->name] = std::string(args[++i]);
        } else {
            return usageError(dashed + " needs a value; write " + dashed + "=VALUE or " + dashed + " VALUE" + see);
        }
        if (option->kind == OptionKind::Port)
            parsed.ports.push_back(values[option->name]);
    }
    return parsed;
}

const OptionSpec* FindIn(const std::vector<OptionSpec>& options, std::string_view name)
{
    const auto found = std::find_if(options.begin(), options.end(),
                                    [name](const OptionSpec& option) { return option.name == name; });
    return found == options.end() ? nullptr : &*found;
}

std::string baudRateList()
{
    std::string list;
    for (int rate : serial::SupportedBaudRates)
        list += (list.empty() ? "" : "|") + std::to_string(rate);
    return list;
}

std::string optionUsage(const OptionSpec& option)
{
    const std::string dashed = "--" + std::string(option.name);
    switch (option.kind) {
    case OptionKind::UUIDType: return dashed + "=16|128";
    case OptionKind::Flag: return dashed;
    case OptionKind::Port: return dashed + "=PATH";
    case OptionKind::BaudRate: return dashed + "=RATE";
    case OptionKind::LineEnding: return dashed + "=END";
    case OptionKind::Timeout: return dashed + "=MS";
    case OptionKind::Count: return dashed + "=N";
    case OptionKind::OptionName: return dashed + "=OPTION";
    case OptionKind::File: return dashed + "=FILE";
    case OptionKind::Seconds: return dashed + "=SECONDS";
    case OptionKind::Adapter: return dashed + "=NAME";
    case OptionKind::Device: return dashed + "=ADDRESS|NUMBER|NAME";
    case OptionKind::DeviceType: return dashed + "=CHAR";
    case OptionKind::Text: break;
    }
    return dashed + "=TEXT";
}

// Two lines: the option and what it means, then its limits and default under the meaning.
std::string optionHelp(const OptionSpec& option)
{
    constexpr std::size_t meaningColumn = 24;
    std::string line = "    " + optionUsage(option);
    line.append(line.size() < meaningColumn ? meaningColumn - line.size() : 1, ' ');
    line.append(option.help);
    if (option.kind == OptionKind::Text)
        line += ", at most " + std::to_string(option.maxLength) + " bytes";
    if (option.kind == OptionKind::BaudRate)
        line += " " + baudRateList();
    if (option.kind == OptionKind::OptionName)
        line += " " + countedOptionList();
    if (option.kind == OptionKind::Seconds || option.kind == OptionKind::Adapter || option.kind == OptionKind::Device
        || option.kind == OptionKind::DeviceType)
        return line + "\n";
    line.append("\n").append(meaningColumn, ' ');
    if (option.initial.empty() && option.kind != OptionKind::Text)
        line += "default: off";
    else
        line += "default: " + (option.initial.empty() ? std::string("empty") : std::string(option.initial));
    return line + "\n";
}

Printed versionOutcome()
{
    return printed("qzconfig " + std::string(ProductVersion) + "\n");
}

std::string seeHelpOf(const std::string& owner)
{
    return " (see qzconfig " + owner + " --help)";
}

std::optional<Printed> portSettingsProblem(const PortSettingsOptions& options, const std::string& see)
{
    if (options.baud && !isBaudRate(*options.baud))
        return usageError("--baud must be one of " + baudRateList() + ", not '" + printable(*options.baud) + "'" + see);
    if (options.lineEnding && lineEndings().count(*options.lineEnding) == 0)
        return usageError("--line-ending must be none, cr, lf or crlf, not '" + printable(*options.lineEnding) + "'"
                          + see);
    if (options.timeout && !isTimeout(*options.timeout))
        return usageError("--timeout must be a number of milliseconds from 100 to 60000, not '"
                          + printable(*options.timeout) + "'" + see);
    return std::nullopt;
}

serial::SessionSettings portSettings(const PortSettingsOptions& options)
{
    serial::SessionSettings settings;
    settings.baudRate = std::stoi(options.baud.value_or("9600"));
    settings.lineEnding = lineEndings().at(options.lineEnding.value_or("none"));
    settings.replyTimeout = std::chrono::milliseconds(std::stoi(options.timeout.value_or("1000")));
    return settings;
}

const std::vector<OptionSpec>& airOptions()
{
    static const std::vector<OptionSpec> options = {
        {"timeout", OptionKind::Seconds, 0, "", "seconds to listen, 1 to 600; default: 10, or 30 without AT+RESET"},
        {"adapter", OptionKind::Adapter, 0, "", "the Bluetooth adapter that listens; default: the first that is on"},
        {"json", OptionKind::Flag, 0, "", "answer in JSON"},
    };
    return options;
}

bool isListeningSeconds(const std::string& text)
{
    return !text.empty() && text.size() <= 3 && AllDecimalDigits(text) && DecimalValue(text) >= 1
        && DecimalValue(text) <= 600;
}

std::optional<Printed> airProblem(const std::optional<std::string>& seconds, const std::string& secondsOption,
                                  const std::optional<std::string>& adapter, const std::string& see)
{
    if (seconds && !isListeningSeconds(*seconds))
        return usageError("--" + secondsOption + " must be a number of seconds from 1 to 600, not '"
                          + printable(*seconds) + "'" + see);
    if (adapter && adapter->empty())
        return usageError("--adapter needs the name of an adapter, like hci0" + see);
    return std::nullopt;
}

AirSettings airSettings(const std::optional<std::string>& seconds, const std::optional<std::string>& adapter, bool json)
{
    AirSettings settings;
    if (seconds)
        settings.seconds = static_cast<int>(DecimalValue(*seconds));
    settings.adapter = adapter.value_or("");
    settings.json = json;
    return settings;
}

} // namespace qz::cli

namespace qz::cli {

const std::vector<OptionSpec>& talkPortOptions()
{
    static const std::vector<OptionSpec> options = {
        {"port", OptionKind::Port, 0, "", "the module's serial port"},
        {"baud", OptionKind::BaudRate, 0, "9600", "baud rate:"},
        {"line-ending", OptionKind::LineEnding, 0, "none", "none, cr, lf or crlf, sent after each command"},
    };
    return options;
}

std::string talkUsage(const std::string& name, const std::vector<OptionSpec>& options, const std::string& about)
{
    std::string usage = "Usage: qzconfig " + name;
    std::string help;
    for (const OptionSpec& option : options) {
        const bool required = option.kind == OptionKind::Port || option.kind == OptionKind::Device;
        usage += " " + std::string(required ? "" : "[") + optionUsage(option) + (required ? "" : "]");
        const std::string lines = optionHelp(option);
        // A required option has no default to tell.
        help += required ? lines.substr(0, lines.find('\n') + 1) : lines;
    }
    return usage + "\n\n" + about + "\n" + help;
}

std::optional<Printed> talkPortProblem(const std::string& owner, const std::optional<std::string>& port,
                                       const PortSettingsOptions& settings)
{
    const std::string see = seeHelpOf(owner);
    if (!port)
        return usageError(owner + " needs --port=PATH, the module's serial port" + see);
    if (port->empty())
        return usageError("--port needs the path of a serial port" + see);
    return portSettingsProblem(settings, see);
}

} // namespace qz::cli
