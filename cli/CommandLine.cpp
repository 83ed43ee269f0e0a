#include "CommandLine.h"
#include "Options.h"

#include "Decode.h"
#include "Output.h"

#include "BeaconList.h"
#include "Batch.h"
#include "BroadcastList.h"
#include "FieldExplanations.h"
#include "SendSession.h"
#include "StudyList.h"
#include "Vendor.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>

namespace qz::cli {

namespace {

// "--OPTION: WORDS": how the page reads one field's value, as the window's mark says it.
std::string explainedLine(const FieldSpec& field, const FieldValues& values)
{
    const FieldExplanation explanation = field.explain(values);
    const std::string about = explanation.about == Field::None ? "" : optionForField(explanation.about) + " ";
    std::string line = "--" + std::string(field.option) + ": ";
    switch (explanation.verdict) {
    case FieldVerdict::Setting:
        line += field.kind == FieldKind::Flag ? (IsFlagOn(values, field.field) ? "on" : "off") : values.at(field.field);
        return line + (explanation.text.empty() ? "" : ": " + about + explanation.text);
    case FieldVerdict::Unused: return line + "not read: " + about + explanation.text;
    case FieldVerdict::Refused: return line + "refused: " + explanation.text;
    case FieldVerdict::Notice: return line + "taken, but note: " + explanation.text;
    case FieldVerdict::Taken: break;
    }
    return line + "taken: " + explanation.text;
}

OptionKind optionKind(FieldKind kind)
{
    switch (kind) {
    case FieldKind::UUIDType: return OptionKind::UUIDType;
    case FieldKind::Flag: return OptionKind::Flag;
    case FieldKind::Text: break;
    }
    return OptionKind::Text;
}

const std::vector<SubcommandSpec>& subcommands()
{
    static const std::vector<SubcommandSpec> table = [] {
        std::vector<SubcommandSpec> made;
        for (const PageSpec& page : Pages()) {
            SubcommandSpec subcommand{&page, {}};
            for (const FieldSpec& field : page.fields)
                subcommand.options.push_back({field.option, optionKind(field.kind), field.maxBytes,
                                              field.kind == FieldKind::Flag ? std::string_view() : field.initial,
                                              field.help});
            made.push_back(std::move(subcommand));
        }
        return made;
    }();
    return table;
}

// The options that count up on some page, in the pages' order: "major, minor, name, address".
std::string countedOptionList()
{
    std::string list;
    for (const PageSpec& page : Pages()) {
        for (const FieldSpec* field : batch::CountedFields(page))
            list += (list.empty() ? "" : ", ") + std::string(field->option);
    }
    return list;
}

// Options of every page subcommand that send the list instead of printing it. Empty
// means not given: their defaults apply only with --port.
const std::vector<OptionSpec>& sessionOptions()
{
    static const std::vector<OptionSpec> options = {
        {"commands", OptionKind::Flag, 0, "", "print only the commands that would be sent"},
        {"port", OptionKind::Port, 0, "", "send the commands to the module on this serial port"},
        {"baud", OptionKind::BaudRate, 0, "9600", "baud rate:"},
        {"line-ending", OptionKind::LineEnding, 0, "none", "none, cr, lf or crlf, sent after each command"},
        {"timeout", OptionKind::Timeout, 0, "1000", "milliseconds to wait for a reply, 100 to 60000"},
        {"modules", OptionKind::Count, 0, "", "set up this many modules, one after another"},
        {"count", OptionKind::OptionName, 0, "", "count up per module:"},
        {"values", OptionKind::File, 0, "", "each module's values from this CSV file"},
        {"record", OptionKind::File, 0, "", "append each module's result to this CSV file"},
        {"verify", OptionKind::Flag, 0, "", "then listen over the air for the module as set up"},
        {"listen", OptionKind::Seconds, 0, "", "seconds to listen, 1 to 600; default: 10, or 30 without AT+RESET"},
        {"adapter", OptionKind::Adapter, 0, "", "the Bluetooth adapter that listens; default: the first"},
    };
    return options;
}

// The options of qzconfig verify and scan, beside a page's own.
const std::vector<OptionSpec>& airOptions()
{
    static const std::vector<OptionSpec> options = {
        {"timeout", OptionKind::Seconds, 0, "", "seconds to listen, 1 to 600; default: 10, or 30 without AT+RESET"},
        {"adapter", OptionKind::Adapter, 0, "", "the Bluetooth adapter that listens; default: the first"},
        {"json", OptionKind::Flag, 0, "", "answer in JSON"},
    };
    return options;
}

const OptionSpec& explainOption()
{
    static const OptionSpec option{"explain", OptionKind::Flag, 0, "", "say how each value is read, one per line"};
    return option;
}

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
    if (option.kind == OptionKind::Seconds || option.kind == OptionKind::Adapter)
        return line + "\n";
    line.append("\n").append(meaningColumn, ' ');
    if (option.initial.empty() && option.kind != OptionKind::Text)
        line += "default: off";
    else
        line += "default: " + (option.initial.empty() ? std::string("empty") : std::string(option.initial));
    return line + "\n";
}

std::string subcommandHelp(const SubcommandSpec& subcommand)
{
    const PageSpec& page = *subcommand.page;
    std::string text = "  " + std::string(page.name);
    text.append(11 - page.name.size(), ' ');
    text.append(page.summary).append("\n");
    for (const OptionSpec& option : subcommand.options)
        text += optionHelp(option);
    return text;
}

std::string explainHelp()
{
    return "\nExplaining the values, with any of the subcommands above:\n" + optionHelp(explainOption())
        + "With --explain, standard output says for each option, given or not, how the\n"
          "page reads its value (\"--notify: taken: read as the 16-bit UUID FFE1, sent as\n"
          "0xFFE1\"), as the window's marks do; the exit status is 0 or 1 as the page's\n"
          "button would decide, and a refusal goes to standard error as always. --explain\n"
          "goes with neither --commands nor --port.\n";
}

std::string sessionHelp()
{
    std::string text = "\nSending to the module, with any of the subcommands above:\n";
    for (const OptionSpec& option : sessionOptions())
        text += optionHelp(option);
    return text
        + "With --port the module gets the list's commands only, in order, each checked:\n"
          "first AT, then each command, every reply beginning with OK. The first failure\n"
          "stops it; nothing further is sent. Standard output shows each exchange as it\n"
          "happens, \"> COMMAND\" then \"< REPLY\" or \"< (no reply)\", bytes below 32 and\n"
          "from 127 on as \\xNN, and at last \"N of N commands were taken\". After AT+RENEW\n"
          "the session goes on at 9600 baud, the module's factory rate. --baud,\n"
          "--line-ending and --timeout need --port; --commands and --port exclude each\n"
          "other.\n"
          "\n"
          "Many modules: with --count=OPTION --modules=N the option's value goes to the\n"
          "first module and counts up by one per module; with --values=FILE each row of\n"
          "a CSV file (its header names the options, like name,address) is one module's\n"
          "values. Every module's values, counted ones too, are checked as the page's\n"
          "button checks them before any port is opened. --record=FILE is then\n"
          "required: each module's result is appended as a row (time, port, every\n"
          "option of the page, taken, total, result, message), and the modules it shows\n"
          "set up are skipped when the same batch runs again; a record of another batch\n"
          "is refused. --port may be given once per fixture; they run at once. A port\n"
          "takes its next module when its adapter is plugged in again, or when its\n"
          "number or name is typed, then Enter (Enter alone when one port waits); a\n"
          "failed module's values go to the next one.\n";
}

std::string portsHelp()
{
    return "\n"
           "Finding the module's port:\n"
           "  ports      the serial ports on this computer, one per line, USB adapters\n"
           "             first: the name to give --port, then the adapter's description,\n"
           "             its USB vendor:product and its serial number, where it has them\n";
}

constexpr std::string_view helpClosing =
    "\n"
    "An option that is not given takes the initial state of its control on the\n"
    "window. Each option also takes its value as the next argument (--notify FFE1),\n"
    "whatever that argument is. When an option is given twice, the last one counts.\n"
    "Values are taken as the bytes given. On Windows, qzconfig.exe ends every line\n"
    "it writes with CR LF, as Windows programs expect.\n"
    "\n"
    "Exit status:\n"
    "  0  the command list is on standard output, one line per entry; with --port,\n"
    "     the module took every command\n"
    "  1  the input was refused: standard error holds \"qzconfig: --OPTION: MESSAGE\",\n"
    "     naming the option to mend (or \"qzconfig: MESSAGE\" when no single option\n"
    "     is at fault); no port is opened\n"
    "  2  usage error: unknown subcommand or option, missing or wrong value\n"
    "  3  the port or the module failed, or standard output could not be written:\n"
    "     standard error holds \"qzconfig: --port PATH: MESSAGE\" (or \"qzconfig:\n"
    "     MESSAGE\"); with verify or scan, there is nothing to listen with\n"
    "  4  heard over the air otherwise than set up, or not heard in time\n"
    "  130  interrupted by Ctrl-C while sending (143: by SIGTERM): the session\n"
    "     stopped after the reply in flight, and standard error says how many\n"
    "     commands were taken; a second Ctrl-C ends it at once\n";

std::string sendExample(std::string_view subcommand)
{
    return "  qzconfig " + std::string(subcommand) + " --port=/dev/ttyUSB0 --line-ending=crlf\n";
}

std::string exampleLine(const SubcommandSpec& subcommand)
{
    return "  " + std::string(subcommand.page->example) + "\n";
}

std::string subcommandUsage(const SubcommandSpec& subcommand)
{
    std::string usage = "Usage: qzconfig " + std::string(subcommand.page->name);
    for (const OptionSpec& option : subcommand.options)
        usage += " [" + optionUsage(option) + "]";
    return usage + " [--explain | --commands | --port=PATH ...]\n\n" + subcommandHelp(subcommand) + explainHelp()
        + sessionHelp()
        + std::string(helpClosing) + "\nExamples:\n" + exampleLine(subcommand) + sendExample(subcommand.page->name);
}




Outcome versionOutcome()
{
    return printed("qzconfig " + std::string(ProductVersion) + "\n");
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

// The listening options: secondsOption ("timeout", "listen") in seconds, and the adapter.
std::optional<Outcome> airProblem(const Values& values, const std::string& secondsOption, const std::string& see)
{
    const auto given = values.find(secondsOption);
    if (given != values.end()) {
        const std::string& seconds = given->second;
        if (seconds.empty() || seconds.size() > 3 || !AllDecimalDigits(seconds) || DecimalValue(seconds) < 1
            || DecimalValue(seconds) > 600)
            return usageError("--" + secondsOption + " must be a number of seconds from 1 to 600, not '"
                              + printable(seconds) + "'" + see);
    }
    if (values.count("adapter") != 0 && values.at("adapter").empty())
        return usageError("--adapter needs the name of an adapter, like hci0" + see);
    return std::nullopt;
}

AirSettings airSettingsOf(const Values& values, const std::string& secondsOption)
{
    AirSettings settings;
    if (values.count(secondsOption) != 0)
        settings.seconds = static_cast<int>(DecimalValue(values.at(secondsOption)));
    if (values.count("adapter") != 0)
        settings.adapter = values.at("adapter");
    settings.json = values.count("json") != 0;
    return settings;
}

bool isBaudRate(const std::string& value)
{
    return std::any_of(serial::SupportedBaudRates.begin(), serial::SupportedBaudRates.end(),
                       [&value](int rate) { return value == std::to_string(rate); });
}

// How to mend a value too long for its field. A major or minor written the C way (0x4D2)
// is four hex digits without the 0x.
std::string shortening(const OptionSpec& option, const std::string& value)
{
    const bool beaconNumber = option.name == "major" || option.name == "minor";
    const std::string digits = value.size() > 2 ? UpperCase(value.substr(2)) : std::string();
    if (beaconNumber && (value.rfind("0x", 0) == 0 || value.rfind("0X", 0) == 0) && !digits.empty()
        && digits.size() <= 4 && AllHexDigits(digits))
        return "write " + std::string(4 - digits.size(), '0') + digits + ", four hex digits without the 0x";
    return "shorten it";
}

// Why a page option's value cannot stand in its control, or nothing.

bool isBatch(const Values& values, std::size_t portCount)
{
    return portCount > 1 || values.count("modules") != 0 || values.count("count") != 0 || values.count("values") != 0
        || values.count("record") != 0;
}

// The batch options against one another and against the page.
std::optional<Outcome> checkBatch(const SubcommandSpec& subcommand, const Values& values)
{
    const auto given = [&values](const char* name) { return values.count(name) != 0; };
    if (!given("port"))
        return usageError("--modules, --count, --values and --record set up modules on a --port" + seeHelp(subcommand));
    if (!given("record") || values.at("record").empty())
        return usageError("a batch needs --record=FILE, where each module's result is written" + seeHelp(subcommand));
    if (given("values") && (given("count") || given("modules")))
        return usageError("--values gives each module's values; it goes with neither --count nor --modules"
                          + seeHelp(subcommand));
    if (given("count") != given("modules"))
        return usageError("--count and --modules go together: --count=OPTION --modules=N" + seeHelp(subcommand));
    if (!given("count") && !given("values"))
        return usageError("a batch gives each module its values: --count=OPTION --modules=N, or --values=FILE"
                          + seeHelp(subcommand));
    if (given("modules")) {
        const std::string& modules = values.at("modules");
        if (modules.empty() || modules.size() > 5 || !AllDecimalDigits(modules) || DecimalValue(modules) < 1)
            return usageError("--modules must be a number of modules from 1 to 99999, not '" + printable(modules) + "'"
                              + seeHelp(subcommand));
        const FieldSpec* counted = FindField(*subcommand.page, std::string_view(values.at("count")));
        if (counted == nullptr || counted->counting == Counting::None) {
            std::string countable;
            for (const FieldSpec* field : batch::CountedFields(*subcommand.page))
                countable += (countable.empty() ? "--" : " or --") + std::string(field->option);
            return usageError("--count=" + printable(values.at("count")) + ": this page counts up only "
                              + (countable.empty() ? "none of its options" : countable) + seeHelp(subcommand));
        }
    }
    if (given("values") && values.at("values").empty())
        return usageError("--values needs the path of a CSV file" + seeHelp(subcommand));
    return std::nullopt;
}

// Checks the final values against what the window's controls can hold, and the send
// options against one another. Send options that were not given are empty.
std::optional<Outcome> checkValues(const SubcommandSpec& subcommand, const Values& values, std::size_t portCount)
{
    for (const OptionSpec& option : subcommand.options) {
        if (std::optional<std::string> problem = valueProblem(option, values.at(option.name)))
            return usageError(*problem + seeHelp(subcommand));
    }
    if (isBatch(values, portCount)) {
        if (std::optional<Outcome> problem = checkBatch(subcommand, values))
            return problem;
    }
    const bool sending = values.count("port") != 0;
    if (values.count("explain") != 0 && (sending || values.count("commands") != 0))
        return usageError("--explain says how the values are read; it goes with neither --commands nor --port"
                          + seeHelp(subcommand));
    if (sending && values.at("port").empty())
        return usageError("--port needs the path of a serial port" + seeHelp(subcommand));
    if (sending && values.count("commands") != 0)
        return usageError("--commands prints the commands, --port sends them: give one of them"
                          + seeHelp(subcommand));
    for (const char* name : {"baud", "line-ending", "timeout", "verify"}) {
        if (values.count(name) != 0 && !sending)
            return usageError("--" + std::string(name) + " only goes with --port" + seeHelp(subcommand));
    }
    for (const char* name : {"adapter", "listen"}) {
        if (values.count(name) != 0 && values.count("verify") == 0)
            return usageError("--" + std::string(name) + " only goes with --verify" + seeHelp(subcommand));
    }
    if (std::optional<Outcome> problem = airProblem(values, "listen", seeHelp(subcommand)))
        return problem;
    if (values.count("verify") != 0 && !subcommand.page->advertises)
        return usageError("--verify: " + std::string(air::SilentWords) + seeHelp(subcommand));
    if (values.count("baud") != 0 && !isBaudRate(values.at("baud")))
        return usageError("--baud must be one of " + baudRateList() + ", not '" + printable(values.at("baud"))
                          + "'" + seeHelp(subcommand));
    if (values.count("line-ending") != 0 && lineEndings().count(values.at("line-ending")) == 0)
        return usageError("--line-ending must be none, cr, lf or crlf, not '" + printable(values.at("line-ending"))
                          + "'" + seeHelp(subcommand));
    if (values.count("timeout") != 0 && !isTimeout(values.at("timeout")))
        return usageError("--timeout must be a number of milliseconds from 100 to 60000, not '"
                          + printable(values.at("timeout")) + "'" + seeHelp(subcommand));
    return std::nullopt;
}

// The send options, with their defaults where they were not given.
SendRequest sendRequest(const Values& values, std::vector<std::string> commands)
{
    const auto valueOr = [&values](const char* name, const char* fallback) {
        return values.count(name) != 0 ? values.at(name) : std::string(fallback);
    };
    SendRequest request;
    request.port = values.at("port");
    request.commands = std::move(commands);
    request.settings.baudRate = std::stoi(valueOr("baud", "9600"));
    request.settings.lineEnding = lineEndings().at(valueOr("line-ending", "none"));
    request.settings.replyTimeout = std::chrono::milliseconds(std::stoi(valueOr("timeout", "1000")));
    if (values.count("verify") != 0)
        request.air = airSettingsOf(values, "listen");
    return request;
}

Outcome report(const SubcommandSpec& subcommand, const GeneratorResult& result, const Values& values)
{
    std::string explanation;
    if (values.count("explain") != 0) {
        const FieldValues fields = fieldValues(*subcommand.page, values);
        for (const FieldSpec& field : subcommand.page->fields)
            explanation += printable(explainedLine(field, fields)) + "\n";
    }
    if (const auto* rejection = std::get_if<Rejection>(&result)) {
        return {Refused, explanation, RefusalLine({}, *rejection), {}};
    }
    if (!explanation.empty())
        return printed(explanation);
    const CommandList& list = std::get<CommandList>(result);
    if (values.count("commands") != 0)
        return printed(joinedLines(list.commands));
    if (values.count("port") != 0)
        return {Listed, {}, {}, sendRequest(values, list.commands)};
    return printed(joinedLines(list));
}

// The request of a batch: the page's values and everything the batch options say; its
// files are read and its rows checked by PlanBatch.
Outcome batchOutcome(const SubcommandSpec& subcommand, const Values& values, const std::vector<std::string>& ports)
{
    BatchRequest request;
    request.page = subcommand.page;
    request.values = fieldValues(*subcommand.page, values);
    request.ports = ports;
    const SendRequest send = sendRequest(values, {});
    request.settings = send.settings;
    request.air = send.air;
    if (values.count("count") != 0) {
        request.counted = FindField(*subcommand.page, std::string_view(values.at("count")))->field;
        request.modules = DecimalValue(values.at("modules"));
    }
    if (values.count("values") != 0)
        request.valuesFile = values.at("values");
    request.recordFile = values.at("record");
    Outcome outcome;
    outcome.batch = std::move(request);
    return outcome;
}

struct ParsedOptions {
    Values values;
    std::vector<std::string> ports; // --port may be given once per fixture in a batch
};

using OptionFinder = const OptionSpec* (*)(const SubcommandSpec&, std::string_view);

// Reads the options from args[first] on: each page option starts at its initial text, and
// every option found by findIn takes the value given. A help request, --version or a
// usage error is the Outcome; owner ("ibeacon", "scan") names the subcommand in errors.
std::variant<ParsedOptions, Outcome> parseOptions(const SubcommandSpec& subcommand, const std::vector<std::string_view>& args,
                                                  std::size_t first, OptionFinder findIn, const std::string& owner,
                                                  const std::string& usage)
{
    ParsedOptions parsed;
    Values& values = parsed.values;
    for (const OptionSpec& option : subcommand.options)
        values[option.name] = std::string(option.initial);
    const std::string see = " (see qzconfig " + owner + " --help)";
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
        const OptionSpec* option = findIn(subcommand, name);
        if (option == nullptr)
            return usageError(owner + ": unknown option '" + printable(arg.substr(0, equals))
                              + "'" + see);
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

Outcome runSubcommand(const SubcommandSpec& subcommand, const std::vector<std::string_view>& args)
{
    std::variant<ParsedOptions, Outcome> parsed = parseOptions(subcommand, args, 1, findOption, std::string(subcommand.page->name),
                                                               subcommandUsage(subcommand));
    if (auto* outcome = std::get_if<Outcome>(&parsed))
        return std::move(*outcome);
    const auto& [values, ports] = std::get<ParsedOptions>(parsed);
    if (std::optional<Outcome> invalid = checkValues(subcommand, values, ports.size()))
        return *invalid;
    if (isBatch(values, ports.size()))
        return batchOutcome(subcommand, values, ports);
    return report(subcommand, subcommand.page->generate(fieldValues(*subcommand.page, values)), values);
}

const OptionSpec* findAirOption(const std::vector<OptionSpec>& options, std::string_view name)
{
    for (const OptionSpec& option : options) {
        if (option.name == name)
            return &option;
    }
    for (const OptionSpec& option : airOptions()) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

const OptionSpec* findVerifyOption(const SubcommandSpec& subcommand, std::string_view name)
{
    return findAirOption(subcommand.options, name);
}

const OptionSpec* findScanOption(const SubcommandSpec&, std::string_view name)
{
    return findAirOption({}, name);
}

std::string airHelp()
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
           "module not heard as set is recorded failed, and its values go to the next.\n"
           "Exit status 4: not heard as set; 3: nothing to listen with (no BlueZ, no\n"
           "adapter, or the adapter off).\n";
}

std::string verifyUsage(const SubcommandSpec& subcommand)
{
    std::string usage = "Usage: qzconfig verify " + std::string(subcommand.page->name);
    for (const OptionSpec& option : subcommand.options)
        usage += " [" + optionUsage(option) + "]";
    for (const OptionSpec& option : airOptions())
        usage += " [" + optionUsage(option) + "]";
    std::string text = usage + "\n\n" + subcommandHelp(subcommand);
    for (const OptionSpec& option : airOptions())
        text += optionHelp(option);
    return text + airHelp();
}

std::string scanUsage()
{
    return "Usage: qzconfig scan [--timeout=SECONDS] [--adapter=NAME] [--json]\n" + airHelp();
}



Outcome runVerify(const std::vector<std::string_view>& args)
{
    constexpr std::string_view see = " (see qzconfig verify --help)";
    if (args.size() < 2 || isHelpRequest(args[1]))
        return args.size() < 2 ? usageError("verify: name the page: ibeacon or broadcast" + std::string(see))
                               : printed("Usage: qzconfig verify PAGE [OPTIONS]\n" + airHelp());
    const SubcommandSpec* subcommand = findSubcommand(args[1]);
    if (subcommand == nullptr)
        return usageError("verify: unknown page '" + printable(args[1]) + "'; name ibeacon or broadcast" + std::string(see));
    if (!subcommand->page->advertises)
        return usageError("verify " + std::string(subcommand->page->name) + ": " + std::string(air::SilentWords)
                          + std::string(see));
    std::variant<ParsedOptions, Outcome> parsed = parseOptions(*subcommand, args, 2, findVerifyOption,
                                                               "verify " + std::string(subcommand->page->name),
                                                               verifyUsage(*subcommand));
    if (auto* outcome = std::get_if<Outcome>(&parsed))
        return std::move(*outcome);
    const Values& values = std::get<ParsedOptions>(parsed).values;
    const std::string seeVerify = " (see qzconfig verify " + std::string(subcommand->page->name) + " --help)";
    for (const OptionSpec& option : subcommand->options) {
        if (std::optional<std::string> problem = valueProblem(option, values.at(option.name)))
            return usageError(*problem + seeVerify);
    }
    if (std::optional<Outcome> problem = airProblem(values, "timeout", seeVerify))
        return *problem;
    const GeneratorResult result = subcommand->page->generate(fieldValues(*subcommand->page, values));
    if (const auto* rejection = std::get_if<Rejection>(&result))
        return {Refused, {}, RefusalLine({}, *rejection), {}};
    Outcome outcome;
    outcome.verify = VerifyRequest{air::ExpectedOnAir(std::get<CommandList>(result).commands),
                                   airSettingsOf(values, "timeout")};
    return outcome;
}

Outcome runScan(const std::vector<std::string_view>& args)
{
    static const SubcommandSpec none{&Pages().front(), {}}; // no page options: a scan has none
    std::variant<ParsedOptions, Outcome> parsed = parseOptions(none, args, 1, findScanOption, "scan", scanUsage());
    if (auto* outcome = std::get_if<Outcome>(&parsed))
        return std::move(*outcome);
    const Values& values = std::get<ParsedOptions>(parsed).values;
    if (std::optional<Outcome> problem = airProblem(values, "timeout", " (see qzconfig scan --help)"))
        return *problem;
    Outcome outcome;
    outcome.scan = airSettingsOf(values, "timeout");
    return outcome;
}

} // namespace

std::string optionForField(Field field)
{
    for (const PageSpec& page : Pages()) {
        if (const FieldSpec* found = FindField(page, field))
            return "--" + std::string(found->option);
    }
    return {};
}

const SubcommandSpec* findSubcommand(std::string_view name)
{
    for (const SubcommandSpec& subcommand : subcommands()) {
        if (subcommand.page->name == name)
            return &subcommand;
    }
    return nullptr;
}

const OptionSpec* findOption(const SubcommandSpec& subcommand, std::string_view name)
{
    for (const std::vector<OptionSpec>* options : {&subcommand.options, &sessionOptions()}) {
        for (const OptionSpec& option : *options) {
            if (option.name == name)
                return &option;
        }
    }
    return name == explainOption().name ? &explainOption() : nullptr;
}

std::string seeHelp(const SubcommandSpec& subcommand)
{
    return seeHelp(*subcommand.page);
}

std::string seeHelp(const PageSpec& page)
{
    return " (see qzconfig " + std::string(page.name) + " --help)";
}

FieldValues fieldValues(const PageSpec& page, const Values& values)
{
    FieldValues fields = InitialValues(page);
    for (const FieldSpec& field : page.fields) {
        const auto given = values.find(field.option);
        if (given != values.end() && !(field.kind == FieldKind::Flag && given->second.empty()))
            fields[field.field] = given->second;
    }
    return fields;
}

std::optional<std::string> valueProblem(const OptionSpec& option, const std::string& value)
{
    if (option.kind == OptionKind::UUIDType && value != "16" && value != "128")
        return "--" + std::string(option.name) + " must be 16 or 128, not '" + printable(value) + "'";
    if (option.kind == OptionKind::Text && value.size() > option.maxLength)
        return "--" + std::string(option.name) + " is " + std::to_string(value.size()) + " bytes long; its field holds "
            "at most " + std::to_string(option.maxLength) + ", so " + shortening(option, value);
    return std::nullopt;
}

std::string RefusalLine(const std::string& where, const Rejection& rejection)
{
    std::string line = "qzconfig: " + where;
    const std::string option = optionForField(rejection.field);
    if (!option.empty())
        line.append(option).append(": ");
    return line + rejection.message + "\n";
}

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
    for (const SubcommandSpec& subcommand : subcommands())
        text += subcommandHelp(subcommand);
    text += explainHelp() + sessionHelp() + portsHelp() + airHelp() + DecodeHelp() + std::string(helpClosing) + "\nExamples:\n";
    for (const SubcommandSpec& subcommand : subcommands())
        text += exampleLine(subcommand);
    return text + sendExample("ibeacon") + "  qzconfig decode 0x0201060302F0FF\n";
}

Outcome RunCommandLine(const std::vector<std::string_view>& args)
{
    constexpr std::string_view chooseOne =
        "; name one of study, ibeacon, broadcast, decode, ports, verify, scan (see qzconfig --help)";
    if (args.empty())
        return usageError("no subcommand given" + std::string(chooseOne));
    if (isHelpRequest(args[0]) || args[0] == "help")
        return printed(HelpText());
    if (args[0] == "--version")
        return versionOutcome();
    if (args[0] == "decode")
        return RunDecode(args);
    if (args[0] == "verify")
        return runVerify(args);
    if (args[0] == "scan")
        return runScan(args);
    if (args[0] == "ports") {
        if (args.size() > 1 && isHelpRequest(args[1]))
            return printed("Usage: qzconfig ports\n" + portsHelp());
        if (args.size() > 1)
            return usageError("ports: unexpected argument '" + printable(args[1]) + "' (see qzconfig --help)");
        Outcome outcome;
        outcome.listPorts = true;
        return outcome;
    }
    const SubcommandSpec* subcommand = findSubcommand(args[0]);
    if (subcommand == nullptr)
        return usageError("unknown subcommand '" + printable(args[0]) + "'" + std::string(chooseOne));
    return runSubcommand(*subcommand, args);
}

} // namespace qz::cli
