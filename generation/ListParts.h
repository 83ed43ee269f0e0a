#pragma once

// Pieces that the three command lists share, so that their common look is written once.

#include "FieldRules.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

inline constexpr std::string_view FillInAllFieldsMessage = "Please fill in all fields";

// Width of the separator line; the broadcast trailer aligns to it.
inline constexpr std::size_t CommentWidth = 57;

// A header comment: the text indented by nine spaces.
std::string CommentLine(std::string_view text);
// Nine spaces and 48 "=".
const std::string& SeparatorLine();
// The header line that every list carries.
const std::string& OnceMoreLine();

// A command word and its parameter, with nothing between them.
std::string CommandWithParameter(std::string_view command, std::string_view parameter);

// A UUID text after trimming: upper-cased, with every "-" taken out.
std::string UUIDDigits(std::string trimmedText);

// "AT+IBE0" to "AT+IBE3", each with eight of the 32 UUID digits.
std::array<std::string, 4> UUIDPieceLines(std::string_view digits);

// Appends lines that are shown only: comments, separators, empty lines, guides.
void appendText(CommandList& list, const std::vector<std::string>& lines);
// Appends a line that is a command, shown as it is sent.
void appendCommand(CommandList& list, std::string command);
// Appends a command shown with a note after it; only the command is sent.
void appendCommand(CommandList& list, std::string_view command, std::string_view note);

} // namespace qz
