#include "AdvertisingData.h"

#include <gtest/gtest.h>

#include <string>

namespace qz {
namespace {

std::string structure(const std::string& lengthByte, int announcedBytes)
{
    return lengthByte + std::string(static_cast<std::size_t>(announcedBytes) * 2, '7');
}

std::string repeated(const std::string& text, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

TEST(AdvertisingData, WalksTheChainOfLengthBytes)
{
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {"", true},
        {"0", true},
        {"020106", true},
        {"0201060302F0FF", true},
        {"0201", false},
        {"02010600", false},
        {"02010601", false},
        {"0201060102", false},
        {"0A0901020304050607080910", false},
        {"0A09010203040506070809", true},
        {structure("1E", 30), true},
        {structure("1F", 30), false},
        {structure("0F", 15) + structure("0F", 15), true},
        {structure("1C", 28), true},
        {structure("A0", 30), false},
        {structure("F1", 30), false},
        {"0302AA", false},
        {"0302AABB", true},
        {"0201067", true},
        {"020106F", true},
        {"000000", false},
        {"01FF", false},
        {"0202AA", true},
        {std::string(64, '0'), false},
        {repeated("020106", 11), true},
        {repeated("020106", 11) + "02", false},
        {"020106gg", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidAdvertisingData(c.text, c.text.size()), c.valid) << c.text;
}

TEST(AdvertisingData, ReadsNothingAtOrPastTheCount)
{
    // The count, not the text, bounds the walk: bytes past it do not belong to the data.
    const std::string text = "020106" "FF";
    EXPECT_TRUE(IsValidAdvertisingData(text, 6));
    EXPECT_TRUE(IsValidAdvertisingData(text, 7));
    EXPECT_FALSE(IsValidAdvertisingData(text, 8));
    EXPECT_FALSE(IsValidAdvertisingData(text, 4));
    EXPECT_TRUE(IsValidAdvertisingData(text, 1));
    EXPECT_TRUE(IsValidAdvertisingData(text, 0));
    // A count beyond the text is held to the text.
    EXPECT_TRUE(IsValidAdvertisingData("020106", 100));
}

} // namespace
} // namespace qz
