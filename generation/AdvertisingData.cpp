#include "AdvertisingData.h"

#include "FieldRules.h"

#include <algorithm>

namespace qz {

ChainWalk WalkAdvertisingData(std::string_view text, std::size_t count)
{
    ChainWalk walk;
    walk.byteCount = std::min(count, text.size()) / 2;
    std::size_t position = 0;
    while (position < walk.byteCount) {
        const std::string_view lengthDigits = text.substr(2 * position, 2);
        walk.faultPosition = position;
        if (!AllHexDigits(lengthDigits)) {
            walk.fault = ChainFault::LengthNotHex;
            return walk;
        }
        const std::uint32_t length = HexValue(lengthDigits);
        walk.faultLength = length;
        if (length < ShortestStructureLength)
            walk.fault = ChainFault::LengthTooShort;
        else if (length > LongestStructureLength)
            walk.fault = ChainFault::LengthTooLong;
        else if (length > walk.byteCount - position - 1)
            walk.fault = ChainFault::RunsPastEnd;
        if (walk.fault != ChainFault::None)
            return walk;
        walk.structures.push_back({position, length});
        position += length + 1;
    }
    return walk;
}

bool HasValidPackageLength(std::string_view trimmedText)
{
    return trimmedText.size() >= ShortestPackageText && trimmedText.size() % 2 == 0;
}

std::string PackageDigits(std::string trimmedText)
{
    constexpr std::string_view hexPrefix = "0X";
    std::string digits = UpperCase(std::move(trimmedText));
    if (digits.compare(0, hexPrefix.size(), hexPrefix) == 0)
        digits.erase(0, hexPrefix.size());
    return digits;
}

bool IsValidAdvertisingData(std::string_view text, std::size_t count)
{
    return WalkAdvertisingData(text, count).fault == ChainFault::None;
}

} // namespace qz
