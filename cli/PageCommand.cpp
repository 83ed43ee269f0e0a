#include "PageCommand.h"

#include "BeaconList.h"
#include "StudyList.h"

#include "Output.h"

#include "Batch.h"
#include "FieldExplanations.h"

#include <algorithm>

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



// A batch option as qzconfig reads it.
OptionKind optionKind(BatchOptionKind kind)
{
    switch (kind) {
    case BatchOptionKind::Number: return OptionKind::Count;
    case BatchOptionKind::Counted: return OptionKind::OptionName;
    case BatchOptionKind::File: return OptionKind::File;
    case BatchOptionKind::Flag: break;
    }
    return OptionKind::Flag;
}

// Options of every page subcommand that send the list instead of printing it. Empty
// means not given: their defaults apply only with --port.
const std::vector<OptionSpec>& sessionOptions()
{
    static const std::vector<OptionSpec> options = [] {
        std::vector<OptionSpec> made = {
            {"commands", OptionKind::Flag, 0, "", "print only the commands that would be sent"},
            {"port", OptionKind::Port, 0, "", "send the commands to the module on this serial port"},
            {"baud", OptionKind::BaudRate, 0, "9600", "baud rate:"},
            {"line-ending", OptionKind::LineEnding, 0, "none", "none, cr, lf or crlf, sent after each command"},
            {"timeout", OptionKind::Timeout, 0, "1000", "milliseconds to wait for a reply, 100 to 60000"},
        };
        for (const BatchOptionSpec& batchOption : BatchOptions())
            made.push_back({batchOption.option, optionKind(batchOption.kind), 0, "", batchOption.help});
        made.insert(made.end(), {
            {"verify", OptionKind::Flag, 0, "", "then listen over the air for the module as set up"},
            {"listen", OptionKind::Seconds, 0, "", "seconds to listen, 1 to 600; default: 10, or 30 without AT+RESET"},
            {"adapter", OptionKind::Adapter, 0, "", "the Bluetooth adapter that listens; default: the first that is on"},
        });
        return made;
    }();
    return options;
}

// --explain, which every page subcommand takes beside its fields' options.
const OptionSpec& explainOption()
{
    static const OptionSpec option{"explain", OptionKind::Flag, 0, "", "say how each value is read, one per line"};
    return option;
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
          "first module and counts up by one per module (--count=name,address counts\n"
          "both, together); with --values=FILE each row of\n"
          "a CSV file (its header names the options, like name,address) is one module's\n"
          "values. Every module's values, counted ones too, are checked as the page's\n"
          "button checks them before any port is opened. --record=FILE is then\n"
          "required: each module's row (time, port, the module's own address, every\n"
          "option of the page, sent, taken, total, result, message) is on the disk,\n"
          "started, before the module is sent anything, and again as it ends; the\n"
          "modules it shows set up are skipped when the same batch runs again, and a\n"
          "module it shows is sent nothing; a record of another batch\n"
          "is refused. --port may be given once per fixture; they run at once. A port\n"
          "takes its next module when its adapter is plugged in again, or when its\n"
          "number or name is typed, then Enter (Enter alone when one port waits).\n"
          "\n"
          "No two modules get one identity (an address; an iBeacon UUID, major and\n"
          "minor, read by meaning: 00FE is 00254): a batch that would give one to two\n"
          "modules is refused. A failed module's values go to the next one only when\n"
          "it was never sent the command that sets its identity; otherwise they stay with\n"
          "it, and the same batch run again leaves them out until --retry-failed says\n"
          "that the failed modules are back on the bench. With --commands a batch is\n"
          "only shown, module by module: \"Module 3: --name=Lamp-03\", then its commands\n"
          "(or what the record shows of it); no port is needed and nothing is sent.\n";
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

std::string subcommandUsage(const SubcommandSpec& subcommand)
{
    std::string usage = "Usage: qzconfig " + std::string(subcommand.page->name);
    for (const OptionSpec& option : subcommand.options)
        usage += " [" + optionUsage(option) + "]";
    return usage + " [--explain | --commands | --port=PATH ...]\n\n" + subcommandHelp(subcommand) + explainHelp()
        + sessionHelp()
        + std::string(helpClosing) + "\nExamples:\n" + ExampleLine(subcommand) + SendExample(subcommand.page->name);
}



// How to mend a value too long for its field. A major or minor written the C way (0x4D2)
// is four hex digits without the 0x.
std::string shortening(const OptionSpec& option, const std::string& value)
{
    const bool beaconNumber = option.name == "major" || option.name == "minor";
    const std::string digits = value.size() > 2 ? UpperCase(value.substr(2)) : std::string();
    if (beaconNumber && (value.rfind("0x", 0) == 0 || value.rfind("0X", 0) == 0) && !digits.empty()
        && digits.size() <= BeaconHexDigits && AllHexDigits(digits))
        return "write " + std::string(BeaconHexDigits - digits.size(), '0') + digits + ", four hex digits without the 0x";
    return "shorten it";
}

// What the options of a page subcommand beside its fields and the batch's say; a text is
// empty when the option was not given. The batch's options go straight into a BatchOrder.
struct PageOptions {
    bool commands = false;
    bool explain = false;
    bool verify = false;
    std::optional<std::string> port;
    std::optional<std::string> baud;
    std::optional<std::string> lineEnding;
    std::optional<std::string> timeout;
    std::optional<std::string> listen;
    std::optional<std::string> adapter;
    std::vector<std::string> ports;

    PortSettingsOptions portSettings() const { return {baud, lineEnding, timeout}; }
};

const std::vector<Member<PageOptions>>& pageMembers()
{
    using O = PageOptions;
    static const std::vector<Member<O>> members = {
        {"commands", nullptr, &O::commands}, {"explain", nullptr, &O::explain}, {"verify", nullptr, &O::verify},
        {"port", &O::port},                  {"baud", &O::baud},                {"line-ending", &O::lineEnding},
        {"timeout", &O::timeout},            {"listen", &O::listen},            {"adapter", &O::adapter},
    };
    return members;
}

// A batch option's text as given, or nothing.
std::optional<std::string> given(const Values& values, std::string_view option)
{
    const auto found = values.find(option);
    return found == values.end() ? std::nullopt : std::optional(found->second);
}

// The options that make a batch of a send.
bool isBatch(const Values& values, const PageOptions& options)
{
    return options.ports.size() > 1
        || std::any_of(BatchOptions().begin(), BatchOptions().end(), [&values](const BatchOptionSpec& batchOption) {
               return batchOption.makesABatch && given(values, batchOption.option);
           });
}

// "--modules must be a number of modules from 1 to 99999, not '0'"
std::string numberProblem(const BatchOptionSpec& batchOption, const std::string& text)
{
    return "--" + std::string(batchOption.option) + " must be a number of modules from " + std::to_string(batchOption.least) + " to "
        + std::to_string(batchOption.most) + ", not '" + printable(text) + "'";
}

// The batch options against one another and against the page.
std::optional<Printed> batchProblem(const SubcommandSpec& subcommand, const Values& values, const PageOptions& options)
{
    const std::optional<std::string> modules = given(values, "modules");
    const std::optional<std::string> count = given(values, "count");
    const std::optional<std::string> valuesFile = given(values, "values");
    const std::optional<std::string> record = given(values, "record");
    const std::string see = seeHelp(subcommand);
    // With --commands the batch is only shown: no port, and a record only to read.
    if (!options.port && !options.commands)
        return usageError("--modules, --count, --values and --record set up modules on a --port" + see);
    if (record ? record->empty() : !options.commands)
        return usageError("a batch needs --record=FILE, where each module's result is written" + see);
    if (valuesFile && (count || modules))
        return usageError("--values gives each module's values; it goes with neither --count nor --modules" + see);
    if (count.has_value() != modules.has_value())
        return usageError("--count and --modules go together: --count=OPTION --modules=N" + see);
    if (!count && !valuesFile)
        return usageError("a batch gives each module its values: --count=OPTION --modules=N, or --values=FILE" + see);
    if (modules) {
        BatchOrder order;
        if (!FillBatchOption(BatchOption("modules"), *modules, order))
            return usageError(numberProblem(BatchOption("modules"), *modules) + see);
        const std::vector<std::string> names = CountedNames(*count);
        for (const std::string& name : names) {
            const FieldSpec* counted = FindField(*subcommand.page, std::string_view(name));
            if (counted == nullptr || counted->counting == Counting::None) {
                std::string countable;
                for (const FieldSpec* field : batch::CountedFields(*subcommand.page))
                    countable += (countable.empty() ? "--" : " or --") + std::string(field->option);
                return usageError("--count=" + printable(name) + ": this page counts up only "
                                  + (countable.empty() ? "none of its options" : countable) + see);
            }
            if (std::count(names.begin(), names.end(), name) > 1)
                return usageError("--count=" + printable(*count) + " names " + name + " twice" + see);
        }
    }
    if (valuesFile && valuesFile->empty())
        return usageError("--values needs the path of a CSV file" + see);
    return std::nullopt;
}

// Checks the page's values against what the window's controls can hold, and the other
// options against one another.
std::optional<Printed> optionsProblem(const SubcommandSpec& subcommand, const Values& values, const PageOptions& options)
{
    const std::string see = seeHelp(subcommand);
    for (const OptionSpec& option : subcommand.options) {
        if (std::optional<std::string> problem = valueProblem(option, values.at(option.name)))
            return usageError(*problem + see);
    }
    const std::optional<std::string> maxFailures = given(values, "max-failures");
    if (isBatch(values, options)) {
        if (std::optional<Printed> problem = batchProblem(subcommand, values, options))
            return problem;
    } else if (given(values, "retry-failed")) {
        return usageError("--retry-failed sets up again what a batch's --record shows failed; it needs a batch" + see);
    } else if (maxFailures) {
        return usageError("--max-failures stops a batch; it needs one" + see);
    }
    BatchOrder order;
    if (maxFailures && !FillBatchOption(BatchOption("max-failures"), *maxFailures, order))
        return usageError(numberProblem(BatchOption("max-failures"), *maxFailures) + see);
    const bool sending = options.port.has_value();
    if (options.explain && (sending || options.commands))
        return usageError("--explain says how the values are read; it goes with neither --commands nor --port" + see);
    if (sending && options.port->empty())
        return usageError("--port needs the path of a serial port" + see);
    if (sending && options.commands)
        return usageError("--commands prints the commands, --port sends them: give one of them" + see);
    const std::pair<const char*, bool> sendingOnly[] = {
        {"baud", options.baud.has_value()},
        {"line-ending", options.lineEnding.has_value()},
        {"timeout", options.timeout.has_value()},
        {"verify", options.verify},
    };
    for (const auto& [name, given] : sendingOnly) {
        if (given && !sending)
            return usageError("--" + std::string(name) + " only goes with --port" + see);
    }
    const std::pair<const char*, bool> verifyingOnly[] = {
        {"adapter", options.adapter.has_value()},
        {"listen", options.listen.has_value()},
    };
    for (const auto& [name, given] : verifyingOnly) {
        if (given && !options.verify)
            return usageError("--" + std::string(name) + " only goes with --verify" + see);
    }
    if (std::optional<Printed> problem = airProblem(options.listen, "listen", options.adapter, see))
        return problem;
    if (options.verify && !subcommand.page->advertises)
        return usageError("--verify: " + std::string(air::SilentWords) + see);
    return portSettingsProblem(options.portSettings(), see);
}

SendRequest sendRequest(const PageOptions& options, const CommandList& list)
{
    SendRequest request;
    request.port = options.port.value_or("");
    request.commands = list.commands;
    request.advertised = list.advertised;
    request.settings = portSettings(options.portSettings());
    if (options.verify)
        request.air = airSettings(options.listen, options.adapter, false);
    return request;
}

Outcome report(const SubcommandSpec& subcommand, const GeneratorResult& result, const Values& values,
               const PageOptions& options)
{
    std::string explanation;
    if (options.explain) {
        const FieldValues fields = fieldValues(*subcommand.page, values);
        for (const FieldSpec& field : subcommand.page->fields)
            explanation += printable(explainedLine(field, fields)) + "\n";
    }
    if (const auto* rejection = std::get_if<Rejection>(&result))
        return Printed{Refused, explanation, RefusalLine({}, *rejection)};
    if (!explanation.empty())
        return printed(explanation);
    const CommandList& list = std::get<CommandList>(result);
    if (options.commands)
        return printed(joinedLines(list.commands));
    if (options.port)
        return sendRequest(options, list);
    return printed(joinedLines(list));
}

// The request of a batch: the page's values and everything the batch options say; its
// files are read and its rows checked by PlanBatch.
BatchRequest batchRequest(const SubcommandSpec& subcommand, const Values& values, const PageOptions& options)
{
    BatchRequest request;
    BatchOrder& order = request.order;
    order.page = subcommand.page;
    order.values = fieldValues(*subcommand.page, values);
    for (const BatchOptionSpec& batchOption : BatchOptions()) {
        if (const std::optional<std::string> text = given(values, batchOption.option))
            FillBatchOption(batchOption, *text, order); // checked by optionsProblem
    }
    const SendRequest send = sendRequest(options, CommandList());
    order.verify = send.air.has_value();
    if (send.air) {
        order.listenSeconds = send.air->seconds.value_or(0);
        order.adapter = send.air->adapter;
    }
    request.ports = options.ports;
    request.settings = send.settings;
    request.dryRun = options.commands;
    return request;
}

} // namespace

const std::vector<SubcommandSpec>& pageSubcommands()
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
    for (const SubcommandSpec& subcommand : pageSubcommands()) {
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
    if (option.kind == OptionKind::UUIDType && !IsUUIDTypeText(value))
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


Values PageInitialValues(const SubcommandSpec& subcommand)
{
    Values values;
    for (const OptionSpec& option : subcommand.options)
        values[option.name] = std::string(option.initial);
    return values;
}

Outcome RunPageCommand(const SubcommandSpec& subcommand, const std::vector<std::string_view>& args)
{
    std::variant<ParsedOptions, Printed> parsed = ParseOptions(
        args, 1, PageInitialValues(subcommand),
        [&subcommand](std::string_view name) { return findOption(subcommand, name); },
        std::string(subcommand.page->name), subcommandUsage(subcommand));
    if (auto* words = std::get_if<Printed>(&parsed))
        return std::move(*words);
    const ParsedOptions& given = std::get<ParsedOptions>(parsed);
    PageOptions options = Filled(given.values, pageMembers());
    options.ports = given.ports;
    if (std::optional<Printed> invalid = optionsProblem(subcommand, given.values, options))
        return *invalid;
    if (isBatch(given.values, options))
        return batchRequest(subcommand, given.values, options);
    return report(subcommand, subcommand.page->generate(fieldValues(*subcommand.page, given.values)), given.values,
                  options);
}

std::string PageHelp(const SubcommandSpec& subcommand)
{
    return subcommandHelp(subcommand);
}

std::string ExplainHelp()
{
    return explainHelp();
}

std::string SessionHelp()
{
    return sessionHelp();
}

std::string ExampleLine(const SubcommandSpec& subcommand)
{
    return "  " + std::string(subcommand.page->example) + "\n";
}

std::string SendExample(std::string_view subcommand)
{
    return "  qzconfig " + std::string(subcommand) + " --port=/dev/ttyUSB0 --line-ending=crlf\n";
}

std::string HelpClosing()
{
    return std::string(helpClosing);
}

} // namespace qz::cli
