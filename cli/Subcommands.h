#pragma once

// Each of qzconfig's subcommands beside the pages: its arguments read into what is to be
// done, and its part of qzconfig --help. args[0] is the subcommand's own name.

#include "CommandLine.h"

#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

Outcome RunVerifyCommand(const std::vector<std::string_view>& args);
Outcome RunScanCommand(const std::vector<std::string_view>& args);
Outcome RunPortsCommand(const std::vector<std::string_view>& args);
Outcome RunConsoleCommand(const std::vector<std::string_view>& args);
Outcome RunDiscoverCommand(const std::vector<std::string_view>& args);
Outcome RunConnectCommand(const std::vector<std::string_view>& args);
Outcome RunLineCommand(const std::vector<std::string_view>& args);
Outcome RunReportCommand(const std::vector<std::string_view>& args);

std::string AirHelp();
std::string PortsHelp();
// console, discover and connect
std::string TalkHelp();
std::string LineHelp();

} // namespace qz::cli
