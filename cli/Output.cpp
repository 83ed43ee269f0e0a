#include "Output.h"

#include "SendSession.h"

#include <algorithm>

namespace qz::cli {

Printed printed(std::string out)
{
    return {Listed, std::move(out), {}};
}

Printed usageError(const std::string& what)
{
    return {UsageError, {}, "qzconfig: " + what + "\n"};
}

std::string printable(std::string_view text)
{
    return serial::EscapedBytes(text);
}

std::string joinedLines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out.append(line).append("\n");
    return out;
}

bool isHelpRequest(std::string_view arg)
{
    return arg == "--help" || arg == "-h";
}

std::string verdictWords(const serial::Verdict& verdict, int chosenBaudRate)
{
    if (verdict.baudRate == 0 || verdict.baudRate == chosenBaudRate)
        return verdict.message;
    return verdict.message + "; the module's rate is now " + std::to_string(verdict.baudRate) + " baud, its factory rate";
}

} // namespace qz::cli
