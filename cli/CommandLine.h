#pragma once

// qzconfig's argument handling, kept apart from main() so that tests and the fuzzer can
// run it without starting a process.

#include "AirMatch.h"
#include "BatchOrder.h"
#include "BatchPlan.h"
#include "ConsoleSession.h"
#include "PageModel.h"
#include "SendSession.h"

#include <optional>
#include <utility>
#include <variant>
#include <string>
#include <string_view>
#include <vector>

namespace qz::cli {

enum ExitStatus { Listed = 0, Refused = 1, UsageError = 2, SendFailed = 3, NotHeardAsSet = 4 };

// How to listen over the air: for how long (the expectation's default when not given),
// on which adapter (empty: the first), and whether to answer in JSON.
struct AirSettings {
    std::optional<int> seconds;
    std::string adapter;
    bool json = false;
};


// What --port asks for: the list's commands, to the module on this port.
struct SendRequest {
    std::string port;
    std::vector<std::string> commands;
    Advertised advertised; // what the module then advertises
    serial::SessionSettings settings;
    std::optional<AirSettings> air = std::nullopt; // then listen for the module
};

// What qzconfig verify asks for: listen for the module that took these commands.
struct VerifyRequest {
    air::Expectation expectation;
    AirSettings air;
};

// What a batch asks for: many modules, each with its own values, on one or more ports.
// Its files are read by the caller, so that the command line itself stays free of I/O.
struct BatchRequest {
    BatchOrder order; // the page, its values and every batch option, as the options gave them
    std::vector<std::string> ports;
    bool dryRun = false; // --commands: each module's values and commands are printed, nothing sent
    serial::SessionSettings settings;
};

// What a run prints and its exit status, when nothing more is to run.
struct Printed {
    int status = Listed;
    std::string out;
    std::string err;
};

// qzconfig ports: the serial ports there now.
struct ListPorts {};

// qzconfig scan: what is heard.
struct ScanRequest {
    AirSettings air;
};

// qzconfig console: each line of standard input to the module, its reply printed.
struct ConsoleRequest {
    std::string port;
    serial::SessionSettings settings;
};

// qzconfig discover: the devices the module (a central) hears.
struct DiscoverRequest {
    std::string port;
    serial::SessionSettings settings;
    serial::Micros timeLimit = serial::DefaultDiscoveryLimit;
    bool json = false;
};

// qzconfig connect: the module connects to a device, then bytes pass both ways.
struct ConnectRequest {
    std::string port;
    serial::SessionSettings settings;
    std::string address;      // 12 hex digits; empty when a number or a name names the device
    std::size_t number = 0;   // the device's number in the last discover on the port, from 1
    std::string name;         // the one device of this name
    std::optional<char> type; // known: no discovery is needed
    serial::Micros timeLimit = serial::DefaultDiscoveryLimit;
    // After the end of input, the device's answer is awaited this long before the link ends.
    serial::Micros linger = std::chrono::seconds(1);
};

// What a run of the command line is: words to print, or something still to run, whose
// own output and outcome decide the rest.
// qzconfig line: the state of a batch that benches share, or of every batch of a database.
struct LineRequest {
    std::string record; // its database address
    bool json = false;
};

// qzconfig report: one row per module of a batch, from its record file or its database.
struct ReportRequest {
    std::string record;
    bool json = false;
};

using Outcome = std::variant<Printed, SendRequest, BatchRequest, ListPorts, VerifyRequest, ScanRequest, ConsoleRequest,
                             DiscoverRequest, ConnectRequest, LineRequest, ReportRequest>;

// A batch refused before any port opened, in qzconfig's words: a refusal or a usage error.
Printed BatchRefusalWords(const BatchRequest& request, const batch::Refusal& refusal);

// args are the arguments after the program name.
Outcome RunCommandLine(const std::vector<std::string_view>& args);

// The text of `qzconfig --help`.
std::string HelpText();

} // namespace qz::cli
