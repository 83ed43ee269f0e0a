#include "CommandLine.h"
#include "SerialDriver.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Writes text at once, so that a transcript shows each exchange as it happens.
bool writeNow(std::FILE* stream, const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

int cannotWriteOutput()
{
    const std::string reason = std::strerror(errno);
    writeNow(stderr, "qzconfig: cannot write standard output: " + reason + "\n");
    return qz::cli::SendFailed;
}

// Sends the commands and prints the transcript as it happens; the verdict decides the
// exit status.
int sendToModule(int argc, char** argv, const qz::cli::SendRequest& request)
{
    QCoreApplication application(argc, argv);
    qz::SerialDriver driver;
    const std::string failurePrefix = "qzconfig: --port " + request.port + ": ";
    int status = qz::cli::SendFailed;
    bool outputFailed = false;
    QObject::connect(&driver, &qz::SerialDriver::exchanged, [&](const qz::serial::Exchange& exchange) {
        if (!outputFailed && !writeNow(stdout, qz::serial::TranscriptLine(exchange) + "\n")) {
            outputFailed = true;
            driver.stop();
        }
    });
    QObject::connect(&driver, &qz::SerialDriver::finished, [&](const qz::serial::Verdict& verdict) {
        if (!verdict.succeeded())
            writeNow(stderr, failurePrefix + verdict.message + "\n");
        else if (!outputFailed && !writeNow(stdout, verdict.message + "\n"))
            outputFailed = true;
        else if (!outputFailed)
            status = qz::cli::Listed;
        QCoreApplication::exit(0);
    });
    const std::string problem = driver.start(request.port, request.commands, request.settings);
    if (!problem.empty()) {
        writeNow(stderr, failurePrefix + "cannot open it: " + problem + "\n");
        return qz::cli::SendFailed;
    }
    QCoreApplication::exec();
    if (outputFailed)
        return cannotWriteOutput();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> args(argv + 1, argv + argc);
    const qz::cli::Outcome outcome = qz::cli::RunCommandLine(args);
    if (outcome.send)
        return sendToModule(argc, argv, *outcome.send);
    const bool written = writeNow(stdout, outcome.out);
    writeNow(stderr, outcome.err);
    return written ? outcome.status : cannotWriteOutput();
}
