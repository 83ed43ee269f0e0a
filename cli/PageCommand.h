#pragma once

// qzconfig study, ibeacon and broadcast: each page's fields as options, from the page
// model, and the options that send the list, set up many modules or explain the values.

#include "Options.h"

#include "PageModel.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

struct SubcommandSpec {
    const PageSpec* page;
    std::vector<OptionSpec> options; // the page's fields, in its order
};

// One per page, in the pages' order.
const std::vector<SubcommandSpec>& pageSubcommands();
const SubcommandSpec* findSubcommand(std::string_view name);
// Each page option at its control's initial state.
Values PageInitialValues(const SubcommandSpec& subcommand);
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
// The options that count up on some page, in the pages' order: "major, minor, name, address".
std::string countedOptionList();

// args[0] names the page.
Outcome RunPageCommand(const SubcommandSpec& subcommand, const std::vector<std::string_view>& args);

// The parts of qzconfig --help that tell of the pages.
std::string PageHelp(const SubcommandSpec& subcommand);
std::string ExplainHelp();
std::string SessionHelp();
std::string ExampleLine(const SubcommandSpec& subcommand);
std::string SendExample(std::string_view subcommand);
// The end of every full help text: how options are read, and the exit statuses.
std::string HelpClosing();

} // namespace qz::cli
