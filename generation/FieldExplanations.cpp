#include "FieldExplanations.h"

#include "BeaconList.h"
#include "BroadcastList.h"
#include "PackageDecoder.h"
#include "StudyList.h"

namespace qz {

namespace {

// An empty field is refused by the button; its explanation says what to type instead.
constexpr std::string_view emptyLongUUID = "empty: type the UUID's 32 hex digits, like 0000FFE0-0000-1000-8000-00805F9B34FB";
constexpr std::string_view emptyShortUUID = "empty: type the UUID's 4 hex digits, like FFE1";
constexpr std::string_view emptyName = "empty: type the name to advertise, up to 15 bytes";
constexpr std::string_view emptyPackage = "empty: type the package in hex, up to 31 bytes, like 0201060302F0FF";

FieldExplanation taken(std::string text)
{
    return {FieldVerdict::Taken, std::move(text), {}};
}

FieldExplanation notice(std::string text)
{
    return {FieldVerdict::Notice, std::move(text), {}};
}

FieldExplanation refused(std::string text)
{
    return {FieldVerdict::Refused, std::move(text), {}};
}

// A character as a message names it: itself in quotes where it can be shown.
std::string shownCharacter(char c)
{
    const auto code = static_cast<unsigned char>(c);
    if (code > 32 && code < 127)
        return "\"" + std::string(1, c) + "\"";
    if (code == ' ')
        return "a space";
    static const char hex[] = "0123456789ABCDEF";
    return std::string("the byte 0x") + hex[code / 16] + hex[code % 16];
}

char firstNonHexDigit(std::string_view digits)
{
    for (char c : digits) {
        if (!IsHexDigit(c))
            return c;
    }
    return '\0';
}

// 0000FFE1-0000-1000-8000-00805F9B34FB
std::string dashedUUID(std::string_view digits)
{
    std::string text(digits);
    for (std::size_t at : {20, 16, 12, 8})
        text.insert(at, 1, '-');
    return text;
}

// Dashes are left out wherever they stand, which few expect of a text not dashed the
// usual way (8-4-4-4-12).
bool dashesOddlyPlaced(std::string_view trimmed)
{
    if (trimmed.find('-') == std::string_view::npos)
        return false;
    if (trimmed.size() != 36)
        return true;
    for (std::size_t at = 0; at < trimmed.size(); ++at) {
        const bool dashWanted = at == 8 || at == 13 || at == 18 || at == 23;
        if ((trimmed[at] == '-') != dashWanted)
            return true;
    }
    return false;
}

// What a 128-bit UUID reading says; shared by the study and iBeacon pages.
FieldExplanation explainLongUUID(FieldCheck check, const std::string& digits, std::string_view text)
{
    switch (check) {
    case FieldCheck::Empty: return refused(std::string(emptyLongUUID));
    case FieldCheck::Characters:
        return refused(shownCharacter(firstNonHexDigit(digits)) + " is not a hex digit: a UUID holds the digits "
                       "0 to 9 and A to F, with dashes or nothing between them");
    case FieldCheck::Passed: break;
    default:
        return refused("a 128-bit UUID needs 32 hex digits, this has " + std::to_string(digits.size()));
    }
    const std::string words = "read as the 128-bit UUID " + dashedUUID(digits);
    if (dashesOddlyPlaced(TrimmedView(text)))
        return notice(words + ": the dashes are left out wherever they stand");
    return taken(words);
}

} // namespace

FieldExplanation ExplainCharacteristic(int uuidTypeIndex, std::string_view text)
{
    const UUIDReading reading = ReadCharacteristic(uuidTypeIndex, text);
    if (uuidTypeIndex != UUIDType16Bit)
        return explainLongUUID(reading.check, reading.digits, text);
    const std::string& digits = reading.digits;
    switch (reading.check) {
    case FieldCheck::Empty: return refused(std::string(emptyShortUUID));
    case FieldCheck::Length:
        if (digits.size() == LongUUIDDigits)
            return refused("a 128-bit UUID, and the UUID type is 16 bit: choose the 128-bit type, or type its 4 "
                           "digits (" + SubText(digits, 5, 4) + ")");
        return refused("a 16-bit UUID needs 4 hex digits, this has " + std::to_string(digits.size()));
    case FieldCheck::Value: return refused("0000 is no UUID: a 16-bit UUID is from 0001 to FFFF");
    case FieldCheck::Passed: break;
    default: return explainLongUUID(reading.check, digits, text);
    }
    const std::string words = "read as the 16-bit UUID " + digits + ", sent as 0x" + digits;
    if (dashesOddlyPlaced(TrimmedView(text)))
        return notice(words + ": the dashes are left out wherever they stand");
    return taken(words);
}

FieldExplanation ExplainBeaconUUID(std::string_view text)
{
    const UUIDReading reading = ReadBeaconUUID(text);
    return explainLongUUID(reading.check, reading.digits, text);
}

FieldExplanation ExplainBeaconNumber(std::string_view text)
{
    ValueExplanation value = ExplainBeaconValue(text);
    switch (value.reading) {
    case ValueReading::Refused: return refused(std::move(value.text));
    case ValueReading::FourDecimalDigits: return notice(std::move(value.text));
    case ValueReading::Hex:
    case ValueReading::Decimal: break;
    }
    return taken(std::move(value.text));
}

FieldExplanation ExplainDeviceName(std::string_view text)
{
    switch (CheckDeviceName(text)) {
    case FieldCheck::Empty: return refused(std::string(emptyName));
    case FieldCheck::Passed: break;
    default: return refused("a line break cannot be sent inside a name: the module would take half of it");
    }
    const std::string_view name = TrimmedView(text);
    const std::string words = "sent as AT+NAME" + std::string(name);
    if (name.size() != text.size())
        return notice(words + ": the spaces at its ends are not sent");
    for (char c : name) {
        if (static_cast<unsigned char>(c) > 126)
            return notice(words + ": its bytes above 126 reach the module as they are, and a phone may show "
                                  "them otherwise");
    }
    return taken(words);
}

FieldExplanation ExplainDeviceAddress(std::string_view text)
{
    const std::string_view address = TrimmedView(text);
    switch (CheckDeviceAddress(text)) {
    case FieldCheck::Length:
        if (address.empty())
            return refused("empty: type the address as 12 hex digits, like 000E0B123456");
        return refused("an address needs 12 hex digits, this has " + std::to_string(address.size()));
    case FieldCheck::Passed: break;
    default:
        if (address.find_first_of(":- ") != std::string_view::npos)
            return refused("the separators were cut by the 12-character limit: type the 12 digits without "
                           "separators, like 000E0B123456");
        if (AllHexDigits(UpperCase(std::string(address))))
            return refused("lower-case letters: the address is written in capitals, " + UpperCase(std::string(address)));
        return refused(shownCharacter(firstNonHexDigit(address)) + " is not a hex digit: an address holds the "
                       "digits 0 to 9 and A to F");
    }
    std::string pairs;
    for (std::size_t at = 0; at < address.size(); at += 2)
        pairs += (pairs.empty() ? "" : ":") + std::string(address.substr(at, 2));
    return taken("sent as AT+ADDR" + std::string(address) + ", the address " + pairs);
}

FieldExplanation ExplainPackage(std::string_view text)
{
    if (TrimmedView(text).empty())
        return refused(std::string(emptyPackage));
    const DecodedPackage package = DecodePackage(text);
    std::vector<std::string> lines = DescribePackage(package);
    if (package.accepted)
        return {FieldVerdict::Taken, lines.front(), lines};
    lines.push_back(package.problem);
    return {FieldVerdict::Refused, package.problem, lines};
}

} // namespace qz
