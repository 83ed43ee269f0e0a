#pragma once

#include "FieldRules.h"

#include <string_view>

namespace qz {

// Index 0 of the UUID type list is the 16-bit form; every other index is the 128-bit form.
inline constexpr int UUIDType16Bit = 0;
inline constexpr int UUIDType128Bit = 1;

// The master-role self-learning list from the notify and write characteristics' UUIDs.
GeneratorResult BuildStudyList(int uuidTypeIndex, std::string_view notifyText, std::string_view writeText);

} // namespace qz
