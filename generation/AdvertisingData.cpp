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

bool IsValidAdvertisingData(std::string_view text, std::size_t count)
{
    return WalkAdvertisingData(text, count).fault == ChainFault::None;
}

} // namespace qz
