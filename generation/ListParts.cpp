#include "ListParts.h"

#include "FieldRules.h"

namespace qz {

namespace {
constexpr std::size_t commentIndent = 9;
constexpr int uuidPieceLength = 8;
} // namespace

std::string CommentLine(std::string_view text)
{
    return std::string(commentIndent, ' ').append(text);
}

std::string SeparatorLine()
{
    return CommentLine(std::string(CommentWidth - commentIndent, '='));
}

std::string OnceMoreLine()
{
    return CommentLine("Those AT Command only need be executed once more");
}

std::string UUIDDigits(std::string_view trimmedText)
{
    return RemoveDashes(UpperCase(trimmedText));
}

std::array<std::string, 4> UUIDPieceLines(std::string_view digits)
{
    std::array<std::string, 4> lines;
    for (int piece = 0; piece < 4; ++piece) {
        lines[static_cast<std::size_t>(piece)] = "AT+IBE" + std::to_string(piece)
            + SubText(digits, piece * uuidPieceLength + 1, uuidPieceLength);
    }
    return lines;
}

} // namespace qz
