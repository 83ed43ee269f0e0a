#pragma once

// qzconfig's argument handling, kept apart from main() so that tests and the fuzzer can
// run it without starting a process.

#include "SendSession.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

enum ExitStatus { Listed = 0, Refused = 1, UsageError = 2, SendFailed = 3 };

// What --port asks for: the list's commands, to the module on this port.
struct SendRequest {
    std::string port;
    std::vector<std::string> commands;
    serial::SessionSettings settings;
};

// What to print and the exit status; or, with send, a session still to run, whose
// transcript and verdict decide the rest.
struct Outcome {
    int status = Listed;
    std::string out;
    std::string err;
    std::optional<SendRequest> send;
};

// args are the arguments after the program name.
Outcome RunCommandLine(const std::vector<std::string_view>& args);

// The text of `qzconfig --help`.
std::string HelpText();

} // namespace qz::cli
