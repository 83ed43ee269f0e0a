#pragma once

// What every qzconfig subcommand writes the same way.

#include "CommandLine.h"

#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

// Standard output and exit status 0.
Printed printed(std::string out);
// One line on standard error, "qzconfig: WHAT", and exit status 2.
Printed usageError(const std::string& what);
// Echoes user input inside a one-line message: control bytes are written as \xNN.
std::string printable(std::string_view text);
// Each line followed by a line break.
std::string joinedLines(const std::vector<std::string>& lines);
bool isHelpRequest(std::string_view arg);
// A session's verdict in words; after AT+RENEW at another rate it says the rate it left.
std::string verdictWords(const serial::Verdict& verdict, int chosenBaudRate);

} // namespace qz::cli
