#include "CommandLine.h"
#include "FuzzInput.h"

#include <vector>

using namespace qz::fuzz;

namespace {

// One line on standard error that starts with "qzconfig: ".
void requireOneErrorLine(const std::string& err)
{
    require(err.rfind("qzconfig: ", 0) == 0, "error names the program", err);
    require(!err.empty() && err.find('\n') == err.size() - 1, "error is one line", err);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Arguments are separated by NUL bytes, as they are in a process's argument block.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> storage;
    std::size_t start = 0;
    while (start <= bytes.size() && !bytes.empty()) {
        const std::size_t end = bytes.find('\0', start);
        storage.push_back(bytes.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    const std::vector<std::string_view> args(storage.begin(), storage.end());

    const qz::cli::Outcome outcome = qz::cli::RunCommandLine(args);
    const bool decoding = !args.empty() && args[0] == "decode";
    if (outcome.send) {
        // A session still to run: what it prints is the transcript's.
        require(outcome.status == qz::cli::Listed && outcome.out.empty() && outcome.err.empty(),
                "a send request prints nothing yet");
        require(!outcome.send->port.empty() && !outcome.send->commands.empty(), "a port and commands to send");
    }
    switch (outcome.status) {
    case qz::cli::Listed:
        // A session, a batch, the port list or listening is still to run: it prints as it goes.
        if (outcome.send || outcome.batch || outcome.listPorts || outcome.verify || outcome.scan)
            break;
        require(!outcome.out.empty() && outcome.err.empty(), "a listing writes only standard output");
        require(outcome.out.back() == '\n', "every line ends in a line break");
        break;
    case qz::cli::Refused:
        // decode still shows the structures before the fault.
        require(decoding || outcome.out.empty(), "a refusal writes nothing on standard output");
        requireOneErrorLine(outcome.err);
        break;
    case qz::cli::UsageError:
        require(outcome.out.empty(), "a usage error writes nothing on standard output");
        requireOneErrorLine(outcome.err);
        require(outcome.err.find("--help") != std::string::npos, "a usage error points to --help", outcome.err);
        break;
    default:
        fail("exit status 0, 1 or 2");
    }
    const qz::cli::Outcome again = qz::cli::RunCommandLine(args);
    require(again.status == outcome.status && again.out == outcome.out && again.err == outcome.err,
            "same arguments, same answer");
    return 0;
}
