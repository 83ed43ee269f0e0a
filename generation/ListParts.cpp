#include "ListParts.h"

namespace qz {

namespace {
constexpr std::size_t commentIndent = 9;
constexpr int uuidPieceLength = 8;
} // namespace

std::string CommentLine(std::string_view text)
{
    return std::string(commentIndent, ' ').append(text);
}

const std::string& SeparatorLine()
{
    static const std::string line = CommentLine(std::string(CommentWidth - commentIndent, '='));
    return line;
}

const std::string& OnceMoreLine()
{
    static const std::string line = CommentLine("Those AT Command only need be executed once more");
    return line;
}

std::string CommandWithParameter(std::string_view command, std::string_view parameter)
{
    return std::string(command).append(parameter);
}

std::string UUIDDigits(std::string trimmedText)
{
    return RemoveDashes(UpperCase(std::move(trimmedText)));
}

UUIDReading ReadUUID(std::string_view text, std::size_t digitCount)
{
    std::string trimmed = TrimField(text);
    if (trimmed.empty())
        return {FieldCheck::Empty, {}};
    std::string digits = UUIDDigits(std::move(trimmed));
    if (!AllHexDigits(digits))
        return {FieldCheck::Characters, std::move(digits)};
    if (digits.size() != digitCount)
        return {FieldCheck::Length, std::move(digits)};
    return {FieldCheck::Passed, std::move(digits)};
}

std::array<std::string, 4> UUIDPieceLines(std::string_view digits)
{
    static const std::string_view commands[] = {"AT+IBE0", "AT+IBE1", "AT+IBE2", "AT+IBE3"};
    std::array<std::string, 4> lines;
    for (int piece = 0; piece < 4; ++piece) {
        lines[static_cast<std::size_t>(piece)] = CommandWithParameter(
            commands[piece], SubTextView(digits, piece * uuidPieceLength + 1, uuidPieceLength));
    }
    return lines;
}

void appendText(CommandList& list, const std::vector<std::string>& lines)
{
    list.insert(list.end(), lines.begin(), lines.end());
}

void appendCommand(CommandList& list, std::string command)
{
    list.push_back(command);
    list.commands.push_back(std::move(command));
}

void appendCommand(CommandList& list, std::string_view command, std::string_view note)
{
    list.push_back(std::string(command).append(" ").append(note));
    list.commands.emplace_back(command);
}

} // namespace qz
