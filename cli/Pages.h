#pragma once

// The pages as qzconfig knows them: each subcommand's options, the control each stands for
// on the window, and the generator that reads them. Shared by the argument handling and
// the batch planning; not part of the command line's interface.

#include "CommandLine.h"

#include "FieldRules.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

enum class OptionKind { Text, UUIDType, Flag, Port, BaudRate, LineEnding, Timeout, Count, OptionName, File };

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
    // "OPTION: words" for each page option, as the window's marks explain its field.
    std::vector<std::string> (*explain)(const Values&);
};

const SubcommandSpec* findSubcommand(std::string_view name);
// A page option, a sending option or --explain; nothing for an unknown name.
const OptionSpec* findOption(const SubcommandSpec& subcommand, std::string_view name);
// "--notify" for edtCharNotify, and so on; empty for no field.
std::string_view optionForField(Field field);
// Why a page option's value cannot stand in its control, or nothing.
std::optional<std::string> valueProblem(const OptionSpec& option, const std::string& value);
// "qzconfig: WHERE--OPTION: MESSAGE", the line that names a refusal on standard error.
std::string RefusalLine(const std::string& where, const Rejection& rejection);
// " (see qzconfig PAGE --help)"
std::string seeHelp(const SubcommandSpec& subcommand);

} // namespace qz::cli
