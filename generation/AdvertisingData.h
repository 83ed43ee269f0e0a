#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

// Why a walk of the structures stopped before the end of the data.
enum class ChainFault {
    None,
    LengthNotHex,  // the length byte holds a character that is no hex digit
    LengthTooShort, // below 2
    LengthTooLong,  // above 30
    RunsPastEnd,    // the announced bytes do not all fit into the data
};

// One structure as the walk found it: the position of its length byte (bytes count from
// 0) and that byte's value.
struct ChainStructure {
    std::size_t position;
    std::uint32_t length;
};

// The structures from the first byte on, up to the end of the data or up to the first
// fault. Both the check below and the package decoder walk through here, so that they
// cannot disagree.
struct ChainWalk {
    std::size_t byteCount = 0;
    std::vector<ChainStructure> structures;
    ChainFault fault = ChainFault::None;
    std::size_t faultPosition = 0; // the length byte at fault
    std::uint32_t faultLength = 0; // its value, when it is one
};

inline constexpr std::uint32_t ShortestStructureLength = 2;
inline constexpr std::uint32_t LongestStructureLength = 30;

ChainWalk WalkAdvertisingData(std::string_view text, std::size_t count);

// The broadcast page's rules for one package text, in the order it applies them: the
// trimmed text's length (the "0X" prefix still counted), then its digits, then the chain.
inline constexpr std::size_t ShortestPackageText = 6;
bool HasValidPackageLength(std::string_view trimmedText);
// Upper-cased, without one leading "0X".
std::string PackageDigits(std::string trimmedText);

// True when the first count characters of text, read as bytes of two hex digits, split
// into consecutive structures of one length byte (2 to 30) and the bytes it announces,
// with nothing left over. An odd last character is ignored; only length bytes are read.
bool IsValidAdvertisingData(std::string_view text, std::size_t count);

} // namespace qz
