#pragma once

// Pieces that the three command lists share, so that their common look is written once.

#include <array>
#include <string>
#include <string_view>

namespace qz {

inline constexpr std::string_view FillInAllFieldsMessage = "Please fill in all fields";

// Width of the separator line; the broadcast trailer aligns to it.
inline constexpr std::size_t CommentWidth = 57;

// A header comment: the text indented by nine spaces.
std::string CommentLine(std::string_view text);
// Nine spaces and 48 "=".
std::string SeparatorLine();
// The header line that every list carries.
std::string OnceMoreLine();

// A UUID text after trimming: upper-cased, with every "-" taken out.
std::string UUIDDigits(std::string_view trimmedText);

// "AT+IBE0" to "AT+IBE3", each with eight of the 32 UUID digits.
std::array<std::string, 4> UUIDPieceLines(std::string_view digits);

} // namespace qz
