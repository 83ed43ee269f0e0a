#pragma once

#include "FieldRules.h"

#include <string>
#include <string_view>

namespace qz {

// Index 0 of the UUID type list is the 16-bit form; every other index is the 128-bit form.
inline constexpr int UUIDType16Bit = 0;
inline constexpr int UUIDType128Bit = 1;
// The type as a field's value, qzconfig's --uuid-type and a record's column: "16" or "128".
inline constexpr std::string_view UUIDType16Text = "16";
inline constexpr std::string_view UUIDType128Text = "128";
bool IsUUIDTypeText(std::string_view value);
// The list index a value names (anything but "128" is the 16-bit form), and back.
int UUIDTypeIndexOf(std::string_view value);
std::string_view UUIDTypeTextOf(int index);

inline constexpr std::size_t ShortUUIDDigits = 4;
inline constexpr std::size_t LongUUIDDigits = 32;

// One characteristic's text as the study button reads it: 4 hex digits from 0001 to FFFF
// in the 16-bit form (Value when 0000), 32 in the 128-bit form.
UUIDReading ReadCharacteristic(int uuidTypeIndex, std::string_view text);

// The master-role self-learning list from the notify and write characteristics' UUIDs.
GeneratorResult BuildStudyList(int uuidTypeIndex, std::string_view notifyText, std::string_view writeText);

} // namespace qz
