#pragma once

// Names that the Bluetooth assigned numbers give to advertising data types, company
// identifiers and appearance categories, as far as the decoder names them.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qz {

// Apple's iBeacon frame: the manufacturer data after Apple's company identifier is 02 15,
// then the UUID, the major and the minor (most significant byte first) and the measured
// power at 1 m, a signed byte.
namespace ibeacon {
inline constexpr std::uint16_t Company = 0x004C;
inline constexpr std::uint8_t FrameType = 0x02;
inline constexpr std::uint8_t FrameLength = 0x15; // the bytes after these two
inline constexpr std::size_t UUIDAt = 2;
inline constexpr std::size_t UUIDBytes = 16;
inline constexpr std::size_t MajorAt = 18;
inline constexpr std::size_t MinorAt = 20;
inline constexpr std::size_t PowerAt = 22;
inline constexpr std::size_t FrameBytes = 2 + FrameLength;

// Whether the bytes after a company identifier are an iBeacon frame.
template <typename Bytes>
bool IsFrame(std::uint32_t company, const Bytes& afterCompany)
{
    return company == Company && afterCompany.size() == FrameBytes
        && static_cast<std::uint8_t>(afterCompany[0]) == FrameType
        && static_cast<std::uint8_t>(afterCompany[1]) == FrameLength;
}
} // namespace ibeacon

// Empty when the type has no name here.
std::string_view AdvertisingTypeName(std::uint32_t type);
std::string_view CompanyName(std::uint32_t company);
// The category is the appearance value's upper ten bits.
std::string_view AppearanceCategoryName(std::uint32_t category);

} // namespace qz
