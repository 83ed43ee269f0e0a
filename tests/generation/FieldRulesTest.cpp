#include "FieldRules.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace qz {
namespace {

struct TextCase {
    std::string input;
    std::string expected;
};

TEST(FieldRules, TrimFieldPassesOverCodes32AndBelowAtBothEndsOnly)
{
    const TextCase cases[] = {
        {"\t 04d2\r", "04d2"},
        {"   ", ""},
        {"\t\t", ""},
        {"", ""},
        {"04 d2", "04 d2"},
        {std::string("\x01" "AB\x1f", 4), "AB"},
        {std::string("\0AB\0", 4), "AB"},
        {"\xA0" "AB\xA0", "\xA0" "AB\xA0"},
        {"\x7F" "AB", "\x7F" "AB"},
        {"\n x \n", "x"},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(TrimField(c.input), c.expected) << c.input;
}

TEST(FieldRules, UpperCasingTouchesOnlyAsciiLetters)
{
    const TextCase cases[] = {
        {"0000ffe0-0000-1000-8000-00805f9b34fb", "0000FFE0-0000-1000-8000-00805F9B34FB"},
        {"az{`@", "AZ{`@"},
        {"\xE9\xFF\xE0", "\xE9\xFF\xE0"},
        {"", ""},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(UpperCase(c.input), c.expected) << c.input;
}

TEST(FieldRules, RemoveDashesTakesOutEveryDashAndNothingElse)
{
    const TextCase cases[] = {
        {"0000FFE0-0000-1000-8000-00805F9B34FB", "0000FFE000001000800000805F9B34FB"},
        {"--", ""},
        {"-A- -B-", "A B"},
        {"FF-E1", "FFE1"},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(RemoveDashes(c.input), c.expected) << c.input;
}

TEST(FieldRules, DigitTestsAcceptExactlyTheirCharacters)
{
    for (int code = 0; code < 256; ++code) {
        const char c = static_cast<char>(code);
        const bool decimal = code >= '0' && code <= '9';
        const bool hex = decimal || (code >= 'A' && code <= 'F');
        EXPECT_EQ(IsHexDigit(c), hex) << code;
        EXPECT_EQ(IsDecimalDigit(c), decimal) << code;
    }
}

TEST(FieldRules, ConversionsReadTheirDigits)
{
    const struct {
        std::string digits;
        std::uint32_t hex;
    } hexCases[] = {{"04D2", 1234}, {"1234", 4660}, {"FFFF", 65535}, {"0000", 0}, {"00FF", 255},
                    {"1E", 30}, {"FFFFFFFF", 4294967295u}};
    for (const auto& c : hexCases)
        EXPECT_EQ(HexValue(c.digits), c.hex) << c.digits;

    const struct {
        std::string digits;
        std::uint32_t decimal;
    } decimalCases[] = {{"01234", 1234}, {"00000", 0}, {"99999", 99999}, {"65536", 65536},
                        {"2147483647", 2147483647u}};
    for (const auto& c : decimalCases)
        EXPECT_EQ(DecimalValue(c.digits), c.decimal) << c.digits;
}

TEST(FieldRules, ConversionsRefuseWhatDenotesNoNumber)
{
    for (const char* bad : {"", "0G", "ff", "123456789", " 1"}) {
        try {
            HexValue(bad);
            ADD_FAILURE() << "HexValue accepted " << bad;
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), "'$" + std::string(bad) + "' is not a valid integer value");
        }
    }
    for (const char* bad : {"", "12A", "2147483648", "-1"}) {
        try {
            DecimalValue(bad);
            ADD_FAILURE() << "DecimalValue accepted " << bad;
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), "'" + std::string(bad) + "' is not a valid integer value");
        }
    }
}

TEST(FieldRules, HexTextPadsButNeverCuts)
{
    const struct {
        std::uint32_t value;
        int minDigits;
        std::string expected;
    } cases[] = {
        {1234, 4, "04D2"}, {65535, 4, "FFFF"}, {1, 2, "01"},     {511, 2, "1FF"},
        {0, 0, "0"},       {10, 2, "0A"},      {16, 2, "10"},    {static_cast<std::uint32_t>(-1), 0, "FFFFFFFF"},
        {255, -3, "FF"},   {255, 33, "FF"},    {0, 32, std::string(32, '0')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HexText(c.value, c.minDigits), c.expected) << c.value << " " << c.minDigits;
}

TEST(FieldRules, SubTextClipsToTheText)
{
    const struct {
        std::string text;
        int start;
        int count;
        std::string expected;
    } cases[] = {
        {"ABCDEFGH", 3, 4, "CDEF"}, {"ABCDEFGH", 7, 22, "GH"}, {"ABCDEFGH", 9, 1, ""},
        {"ABCDEFGH", 0, 3, "ABC"},  {"ABCDEFGH", 1, 0, ""},    {"ABCDEFGH", -5, 2, "AB"},
        {"ABCDEFGH", 2, -1, ""},    {"", 1, 5, ""},            {std::string(30, 'x'), 23, 22, std::string(8, 'x')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SubText(c.text, c.start, c.count), c.expected) << c.text << " " << c.start << " " << c.count;
}

TEST(FieldRules, AddressesAsPeopleAndModulesWriteThem)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"0017ea0943ae", "0017EA0943AE"},
        {"00:17:EA:09:43:AE", "0017EA0943AE"},
        {"00:17:EA:09:43:A", std::nullopt},
        {"0017EA0943AE0", std::nullopt},
        {"0017:EA0943AE", std::nullopt},
        {"0017EA0943AG", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, digits] : cases)
        EXPECT_EQ(AddressDigitsOf(text), digits) << text;
    EXPECT_EQ(ColonAddress("0017ea0943ae"), "00:17:EA:09:43:AE");
}

} // namespace
} // namespace qz
