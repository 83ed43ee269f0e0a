#pragma once

// Explains a package text as the broadcast page reads it: the structures it holds, what
// each announces, and, when the broadcast button would refuse it, why and where. The
// verdict is the button's own: both walk the structures through WalkAdvertisingData.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

// One decoded value of a structure. shown is how the one-line meaning writes it; key,
// value and number are for scripts.
struct DecodedField {
    std::string key;
    std::string value;
    std::optional<long long> number;
    std::string shown;
};

struct DecodedStructure {
    std::size_t position; // of its length byte; the first byte is byte 1
    std::uint32_t length;
    std::uint32_t type;
    std::string name;
    std::string raw; // hex digits of the whole structure, length byte included
    std::vector<DecodedField> fields;

    // "Name: field, field, ..."
    std::string meaning() const;
};

struct DecodedPackage {
    std::string digits;      // the text trimmed, upper-cased, without its "0X"
    bool accepted = false;   // the broadcast button takes it
    std::string problem;     // why it would not, with the position
    bool walked = false;     // the digits were read as structures
    std::size_t byteCount = 0;
    std::vector<DecodedStructure> structures; // all, or those before the fault
    std::vector<std::string> warnings;
};

// One advertising packet holds this many bytes.
inline constexpr std::size_t AdvertisingPacketBytes = 31;

DecodedPackage DecodePackage(std::string_view text);

// The lines that show a decoded package: a header ("0201060302F0FF: 7 of 31 bytes,
// 2 structures"), one line per structure with its raw bytes beside its meaning, and the
// warnings. The problem is not among them.
std::vector<std::string> DescribePackage(const DecodedPackage& package);

} // namespace qz
