#include "FieldRules.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace qz {

namespace {

// What kind of digit each byte is, looked up rather than compared range by range, as the
// generators test every character of every field.
enum DigitClass : unsigned char { notADigit, hexOnly, decimalAndHex };

constexpr std::array<DigitClass, 256> makeDigitClasses()
{
    std::array<DigitClass, 256> classes{};
    for (int c = '0'; c <= '9'; ++c)
        classes[static_cast<std::size_t>(c)] = decimalAndHex;
    for (int c = 'A'; c <= 'F'; ++c)
        classes[static_cast<std::size_t>(c)] = hexOnly;
    return classes;
}

constexpr std::array<DigitClass, 256> digitClasses = makeDigitClasses();

bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

[[noreturn]] void throwNotAnInteger(std::string_view shown)
{
    throw std::invalid_argument("'" + std::string(shown) + "' is not a valid integer value");
}

unsigned hexDigitValue(char c)
{
    return c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>(c - 'A' + 10);
}

} // namespace

std::string_view TrimmedView(std::string_view text)
{
    std::size_t first = 0;
    while (first < text.size() && isBlank(text[first]))
        ++first;
    std::size_t end = text.size();
    while (end > first && isBlank(text[end - 1]))
        --end;
    return text.substr(first, end - first);
}

std::string TrimField(std::string_view text)
{
    return std::string(TrimmedView(text));
}

std::string UpperCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string LowerCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string RemoveDashes(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
    return text;
}

bool IsHexDigit(char c)
{
    return digitClasses[static_cast<unsigned char>(c)] >= hexOnly;
}

bool IsDecimalDigit(char c)
{
    return digitClasses[static_cast<unsigned char>(c)] == decimalAndHex;
}

bool AllHexDigits(std::string_view text)
{
    for (char c : text) {
        if (!IsHexDigit(c))
            return false;
    }
    return true;
}

bool AllDecimalDigits(std::string_view text)
{
    for (char c : text) {
        if (!IsDecimalDigit(c))
            return false;
    }
    return true;
}

bool IsDeviceAddress(std::string_view digits)
{
    return digits.size() == DeviceAddressDigits && AllHexDigits(digits);
}

std::optional<std::string> AddressDigitsOf(std::string_view text)
{
    // With colons, one between each pair: 00:17:EA:09:43:AE.
    constexpr std::size_t colonWidth = DeviceAddressDigits / 2 * 3 - 1;
    std::string digits;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text.size() == colonWidth && at % 3 == 2) {
            if (text[at] != ':')
                return std::nullopt;
            continue;
        }
        digits += text[at];
    }
    digits = UpperCase(std::move(digits));
    if (!IsDeviceAddress(digits))
        return std::nullopt;
    return digits;
}

std::string ColonAddress(std::string_view digits)
{
    std::string shown;
    for (std::size_t at = 0; at < digits.size(); at += 2)
        shown.append(at == 0 ? "" : ":").append(UpperCase(std::string(digits.substr(at, 2))));
    return shown;
}

std::uint32_t HexValue(std::string_view digits)
{
    if (digits.empty() || digits.size() > 8 || !AllHexDigits(digits))
        throwNotAnInteger("$" + std::string(digits));
    std::uint32_t value = 0;
    for (char c : digits)
        value = value * 16 + hexDigitValue(c);
    return value;
}

std::uint32_t DecimalValue(std::string_view digits)
{
    constexpr std::uint64_t largest = 2147483647;
    if (digits.empty() || !AllDecimalDigits(digits))
        throwNotAnInteger(digits);
    std::uint64_t value = 0;
    for (char c : digits) {
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > largest)
            throwNotAnInteger(digits);
    }
    return static_cast<std::uint32_t>(value);
}

std::string HexText(std::uint32_t value, int minDigits)
{
    static const char digitChars[] = "0123456789ABCDEF";
    constexpr std::size_t mostDigits = 8;
    const std::size_t width = (minDigits < 0 || minDigits > 32) ? 0 : static_cast<std::size_t>(minDigits);
    char digits[mostDigits];
    std::size_t count = 0;
    do {
        digits[mostDigits - ++count] = digitChars[value % 16];
        value /= 16;
    } while (value != 0);
    std::string text(width > count ? width - count : 0, '0');
    text.append(digits + mostDigits - count, count);
    return text;
}

std::string_view SubTextView(std::string_view text, int start, int count)
{
    if (count <= 0)
        return {};
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= text.size())
        return {};
    return text.substr(from, static_cast<std::size_t>(count));
}

std::string SubText(std::string_view text, int start, int count)
{
    return std::string(SubTextView(text, start, count));
}

} // namespace qz
