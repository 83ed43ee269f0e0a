#include "Output.h"

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

namespace {

// The length of the UTF-8 sequence at the start of text; 0 when it is none.
std::size_t sequenceLength(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || text.size() < length)
        return 0;
    for (std::size_t at = 1; at < length; ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// Characters a terminal shows as nothing, or as a plain space: a byte-order mark, the
// zero-width ones, the C1 controls, a no-break space, the line and paragraph separators.
bool invisible(std::string_view sequence)
{
    static constexpr std::string_view hidden[] = {"\xEF\xBB\xBF", "\xC2\xA0", "\xE2\x80\x8B", "\xE2\x80\x8C",
                                                  "\xE2\x80\x8D", "\xE2\x80\x8E", "\xE2\x80\x8F", "\xE2\x80\xA8",
                                                  "\xE2\x80\xA9", "\xE2\x81\xA0"};
    const bool c1Control = sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xC2
        && static_cast<unsigned char>(sequence[1]) < 0xA0;
    return c1Control || std::find(std::begin(hidden), std::end(hidden), sequence) != std::end(hidden);
}

} // namespace

std::string printable(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    const auto escape = [&shown](char c) {
        const auto code = static_cast<unsigned char>(c);
        shown.append("\\x").append(1, hex[code / 16]).append(1, hex[code % 16]);
    };
    for (std::size_t at = 0; at < text.size();) {
        const auto code = static_cast<unsigned char>(text[at]);
        if (code >= 32 && code < 127) {
            shown += text[at++];
            continue;
        }
        // Text in another script shows as it is; what cannot be seen, or is no text, is escaped.
        const std::size_t length = code < 128 ? 0 : sequenceLength(text.substr(at));
        const std::string_view sequence = text.substr(at, std::max<std::size_t>(length, 1));
        if (length == 0 || invisible(sequence)) {
            for (char c : sequence)
                escape(c);
        } else {
            shown += sequence;
        }
        at += sequence.size();
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
