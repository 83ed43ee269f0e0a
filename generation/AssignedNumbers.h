#pragma once

// Names that the Bluetooth assigned numbers give to advertising data types, company
// identifiers and appearance categories, as far as the decoder names them.

#include <cstdint>
#include <string_view>

namespace qz {

// Empty when the type has no name here.
std::string_view AdvertisingTypeName(std::uint32_t type);
std::string_view CompanyName(std::uint32_t company);
// The category is the appearance value's upper ten bits.
std::string_view AppearanceCategoryName(std::uint32_t category);

} // namespace qz
