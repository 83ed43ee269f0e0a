#include "FieldRules.h"

#include <stdexcept>

namespace qz {

namespace {

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

std::string TrimField(std::string_view text)
{
    std::size_t first = 0;
    while (first < text.size() && isBlank(text[first]))
        ++first;
    std::size_t end = text.size();
    while (end > first && isBlank(text[end - 1]))
        --end;
    return std::string(text.substr(first, end - first));
}

std::string UpperCase(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - ('a' - 'A'));
    }
    return result;
}

std::string RemoveDashes(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c != '-')
            result += c;
    }
    return result;
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool IsDecimalDigit(char c)
{
    return c >= '0' && c <= '9';
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
    const std::size_t width = (minDigits < 0 || minDigits > 32) ? 0 : static_cast<std::size_t>(minDigits);
    std::string reversed;
    do {
        reversed += digitChars[value % 16];
        value /= 16;
    } while (value != 0);
    if (reversed.size() < width)
        reversed.append(width - reversed.size(), '0');
    return std::string(reversed.rbegin(), reversed.rend());
}

std::string SubText(std::string_view text, int start, int count)
{
    if (count <= 0)
        return {};
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= text.size())
        return {};
    return std::string(text.substr(from, static_cast<std::size_t>(count)));
}

} // namespace qz
