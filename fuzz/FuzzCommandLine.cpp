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
    if (const auto* send = std::get_if<qz::cli::SendRequest>(&outcome))
        require(!send->port.empty() && !send->commands.empty(), "a port and commands to send");
    // A session, a batch, the port list, listening or talking is still to run: it prints as it goes.
    const auto* words = std::get_if<qz::cli::Printed>(&outcome);
    if (words == nullptr)
        return 0;
    switch (words->status) {
    case qz::cli::Listed:
        require(!words->out.empty() && words->err.empty(), "a listing writes only standard output");
        require(words->out.back() == '\n', "every line ends in a line break");
        break;
    case qz::cli::Refused:
        // decode still shows the structures before the fault.
        require(decoding || words->out.empty(), "a refusal writes nothing on standard output");
        requireOneErrorLine(words->err);
        break;
    case qz::cli::UsageError:
        require(words->out.empty(), "a usage error writes nothing on standard output");
        requireOneErrorLine(words->err);
        require(words->err.find("--help") != std::string::npos, "a usage error points to --help", words->err);
        break;
    default:
        fail("exit status 0, 1 or 2");
    }
    const qz::cli::Outcome again = qz::cli::RunCommandLine(args);
    const auto* againWords = std::get_if<qz::cli::Printed>(&again);
    require(againWords != nullptr && againWords->status == words->status && againWords->out == words->out
                && againWords->err == words->err,
            "same arguments, same answer");
    return 0;
}
