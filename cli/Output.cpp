#include "Output.h"

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
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    for (char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 32 || code == 127)
            shown.append("\\x").append(1, hex[code / 16]).append(1, hex[code % 16]);
        else
            shown += c;
    }
    return shown;
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
