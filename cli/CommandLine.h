#pragma once

// qzconfig's argument handling, kept apart from main() so that tests and the fuzzer can
// run it without starting a process.

#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

enum ExitStatus { Listed = 0, Refused = 1, UsageError = 2 };

struct Outcome {
    int status = Listed;
    std::string out;
    std::string err;
};

// args are the arguments after the program name.
Outcome RunCommandLine(const std::vector<std::string_view>& args);

// The text of `qzconfig --help`.
std::string HelpText();

} // namespace qz::cli
