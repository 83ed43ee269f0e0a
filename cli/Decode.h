#pragma once

// qzconfig decode: one package text explained structure by structure, or why the
// broadcast button would refuse it.

#include "CommandLine.h"

#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

// args[0] is "decode".
Outcome RunDecode(const std::vector<std::string_view>& args);
// The part of the help that tells of decode.
std::string DecodeHelp();

} // namespace qz::cli
