#pragma once

#include <cstddef>
#include <string_view>

namespace qz {

// True when the first count characters of text, read as bytes of two hex digits, split
// into consecutive structures of one length byte (2 to 30) and the bytes it announces,
// with nothing left over. An odd last character is ignored; only length bytes are read.
bool IsValidAdvertisingData(std::string_view text, std::size_t count);

} // namespace qz
