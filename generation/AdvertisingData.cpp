#include "AdvertisingData.h"

#include "FieldRules.h"

#include <algorithm>

namespace qz {

namespace {
constexpr std::uint32_t shortestStructure = 2;
constexpr std::uint32_t longestStructure = 30;
} // namespace

bool IsValidAdvertisingData(std::string_view text, std::size_t count)
{
    const std::size_t byteCount = std::min(count, text.size()) / 2;
    std::size_t position = 0;
    while (position < byteCount) {
        const std::string_view lengthDigits = text.substr(2 * position, 2);
        if (!AllHexDigits(lengthDigits))
            return false;
        const std::uint32_t length = HexValue(lengthDigits);
        if (length < shortestStructure || length > longestStructure || length > byteCount - position - 1)
            return false;
        position += length + 1;
    }
    return true;
}

} // namespace qz
