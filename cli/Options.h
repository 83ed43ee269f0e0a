#pragma once

// The options of qzconfig's page subcommands: each page's fields from the page model, then
// the options that send, set up many modules or explain. Shared by the argument handling
// and the batch planning; not part of the command line's interface.

#include "CommandLine.h"

#include "PageModel.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

enum class OptionKind { Text, UUIDType, Flag, Port, BaudRate, LineEnding, Timeout, Count, OptionName, File, Seconds, Adapter };

// One option of a subcommand; a page option stands for a field, with its control's
// initial state and (for edits) its maximum length in bytes.
struct OptionSpec {
    std::string_view name;
    OptionKind kind;
    std::size_t maxLength;
    std::string_view initial;
    std::string_view help;
};

// The options' values by name; a flag given is FlagOn.
using Values = std::map<std::string_view, std::string>;

struct SubcommandSpec {
    const PageSpec* page;
    std::vector<OptionSpec> options; // the page's fields, in its order
};

const SubcommandSpec* findSubcommand(std::string_view name);
// A page option, a sending option or --explain; nothing for an unknown name.
const OptionSpec* findOption(const SubcommandSpec& subcommand, std::string_view name);
// The page's fields as their options give them.
FieldValues fieldValues(const PageSpec& page, const Values& values);
// "--notify" for the study page's notify field, and so on; empty for no field.
std::string optionForField(Field field);
// Why a page option's value cannot stand in its control, or nothing.
std::optional<std::string> valueProblem(const OptionSpec& option, const std::string& value);
// "qzconfig: WHERE--OPTION: MESSAGE", the line that names a refusal on standard error.
std::string RefusalLine(const std::string& where, const Rejection& rejection);
// " (see qzconfig PAGE --help)"
std::string seeHelp(const SubcommandSpec& subcommand);
std::string seeHelp(const PageSpec& page);

} // namespace qz::cli
