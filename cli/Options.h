#pragma once

// How qzconfig reads options: each subcommand has a table of its options, the arguments
// are read against it once, and the values land in the subcommand's own typed struct
// through a table of its members. The checks and words shared by several subcommands
// (the serial settings, listening, help lines) live here too.

#include "CommandLine.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qz::cli {

enum class OptionKind {
    Text, UUIDType, Flag, Port, BaudRate, LineEnding, Timeout, Count, OptionName, File, Seconds, Adapter, Device,
    DeviceType
};

// One option of a subcommand; a page option stands for a field, with its control's
// initial state and (for edits) its maximum length in bytes.
struct OptionSpec {
    std::string_view name;
    OptionKind kind;
    std::size_t maxLength;
    std::string_view initial;
    std::string_view help;
};

// The options' values by name, as the arguments gave them; a flag given is FlagOn.
using Values = std::map<std::string_view, std::string>;

struct ParsedOptions {
    Values values;
    std::vector<std::string> ports; // --port may be given once per fixture in a batch
};

using OptionLookup = std::function<const OptionSpec*(std::string_view name)>;

// Reads the options from args[first] on, each found by find, over the initial values. A
// help request, --version or a usage error is what is printed instead; owner ("ibeacon",
// "scan") names the subcommand in errors.
std::variant<ParsedOptions, Printed> ParseOptions(const std::vector<std::string_view>& args, std::size_t first,
                                                  Values initial, const OptionLookup& find, const std::string& owner,
                                                  const std::string& usage);
const OptionSpec* FindIn(const std::vector<OptionSpec>& options, std::string_view name);

// One member of a subcommand's typed options, filled from the option of that name: a
// text (empty when not given), or a flag.
template <class Options>
struct Member {
    std::string_view option;
    std::optional<std::string> Options::*text = nullptr;
    bool Options::*flag = nullptr;
};

template <class Options>
Options Filled(const Values& values, const std::vector<Member<Options>>& members)
{
    Options options;
    for (const Member<Options>& member : members) {
        const auto given = values.find(member.option);
        if (given == values.end())
            continue;
        if (member.flag != nullptr)
            options.*member.flag = true;
        else
            options.*member.text = given->second;
    }
    return options;
}

// "--port=PATH", and the two lines of --help that tell an option.
std::string optionUsage(const OptionSpec& option);
std::string optionHelp(const OptionSpec& option);
Printed versionOutcome();
// " (see qzconfig OWNER --help)"
std::string seeHelpOf(const std::string& owner);

// The serial settings that a send and a console share: --baud, --line-ending and
// --timeout (milliseconds), each empty when not given.
struct PortSettingsOptions {
    std::optional<std::string> baud;
    std::optional<std::string> lineEnding;
    std::optional<std::string> timeout;
};
std::string baudRateList();
// The first of them that is out of place, in words, or nothing.
std::optional<Printed> portSettingsProblem(const PortSettingsOptions& options, const std::string& see);
// With their defaults where not given; the options have passed portSettingsProblem.
serial::SessionSettings portSettings(const PortSettingsOptions& options);

// The options of qzconfig verify and scan, beside a page's own.
const std::vector<OptionSpec>& airOptions();
// --SECONDSOPTION (1 to 600) and --adapter, as far as given.
std::optional<Printed> airProblem(const std::optional<std::string>& seconds, const std::string& secondsOption,
                                  const std::optional<std::string>& adapter, const std::string& see);
AirSettings airSettings(const std::optional<std::string>& seconds, const std::optional<std::string>& adapter, bool json);
// Whether text is a whole number of seconds from 1 to 600.
bool isListeningSeconds(const std::string& text);

} // namespace qz::cli

namespace qz::cli {

// The options with which console, discover and connect reach the module: --port, --baud
// and --line-ending.
const std::vector<OptionSpec>& talkPortOptions();
// "Usage: qzconfig NAME" with each option, then each option's help lines.
std::string talkUsage(const std::string& name, const std::vector<OptionSpec>& options, const std::string& about);
// A missing or empty --port, or a port setting out of place, in words; or nothing.
std::optional<Printed> talkPortProblem(const std::string& owner, const std::optional<std::string>& port,
                                       const PortSettingsOptions& settings);

} // namespace qz::cli
