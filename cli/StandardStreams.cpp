#include "StandardStreams.h"

#include "CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qz::cli {

namespace {

// The errno of the first write to standard output that failed; 0 while none has. The
// reason given is the failed write's, not that of whatever fails later.
int outputError = 0;

bool writeNow(std::FILE* stream, const std::string& text)
{
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
}

} // namespace

bool WriteOut(const std::string& text)
{
    if (outputError != 0)
        return false;
    errno = 0;
    if (writeNow(stdout, text))
        return true;
    outputError = errno != 0 ? errno : EIO;
    return false;
}

void WriteErr(const std::string& text)
{
    writeNow(stderr, text);
}

bool OutputFailed()
{
    return outputError != 0;
}

int CannotWriteOutput()
{
    WriteErr("qzconfig: cannot write standard output: " + std::string(std::strerror(outputError)) + "\n");
    return SendFailed;
}

} // namespace qz::cli
