#include "CommandLine.h"

#include <cstdio>

int main(int argc, char** argv)
{
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const qz::cli::Outcome outcome = qz::cli::RunCommandLine(args);
    std::fwrite(outcome.out.data(), 1, outcome.out.size(), stdout);
    std::fwrite(outcome.err.data(), 1, outcome.err.size(), stderr);
    return std::fflush(stdout) == 0 ? outcome.status : qz::cli::UsageError;
}
