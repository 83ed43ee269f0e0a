#include "PackageDecoder.h"

#include "AdvertisingData.h"
#include "AssignedNumbers.h"
#include "FieldRules.h"

#include <algorithm>
#include <cstdio>

namespace qz {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t eddystoneService = 0xFEAA;

std::string hexByte(std::uint32_t value)
{
    return HexText(value & 0xFF, 2);
}

std::string hexBytes(const Bytes& bytes, std::size_t from = 0, std::size_t count = std::string::npos)
{
    std::string text;
    for (std::size_t i = from; i < bytes.size() && i - from < count; ++i)
        text += hexByte(bytes[i]);
    return text;
}

// Little-endian, as every multi-byte value of the advertising data itself travels.
std::uint32_t littleEndian(const Bytes& bytes, std::size_t from, std::size_t count)
{
    std::uint32_t value = 0;
    for (std::size_t i = count; i > 0; --i)
        value = value * 256 + bytes[from + i - 1];
    return value;
}

// Big-endian, as the beacon frames inside it carry theirs.
std::uint32_t bigEndian(const Bytes& bytes, std::size_t from, std::size_t count)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value * 256 + bytes[from + i];
    return value;
}

int signedByte(std::uint8_t byte)
{
    return byte < 128 ? byte : byte - 256;
}

// Bytes 32 to 126 as they are, every other one as \xNN.
std::string printableText(const Bytes& bytes, std::size_t from)
{
    std::string text;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        if (bytes[i] >= 32 && bytes[i] <= 126)
            text += static_cast<char>(bytes[i]);
        else
            text += "\\x" + hexByte(bytes[i]);
    }
    return text;
}

// The usual written form: most significant byte first, and 128-bit UUIDs in 8-4-4-4-12.
std::string uuidText(const Bytes& bytes, std::size_t from, std::size_t size, bool reversed)
{
    std::string digits;
    for (std::size_t i = 0; i < size; ++i)
        digits += hexByte(bytes[reversed ? from + size - 1 - i : from + i]);
    if (size == 16) {
        for (std::size_t dash : {20u, 16u, 12u, 8u})
            digits.insert(dash, "-");
    }
    return digits;
}

std::string decimal(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

class FieldList {
public:
    explicit FieldList(std::vector<DecodedField>& fields)
        : fields_(fields)
    {
    }
    // A value the meaning shows alone.
    void plain(std::string key, std::string value) { fields_.push_back({std::move(key), value, std::nullopt, value}); }
    // A value the meaning shows after its key.
    void labelled(std::string key, std::string value, std::optional<long long> number = std::nullopt)
    {
        std::string shown = key + " " + value;
        fields_.push_back({std::move(key), std::move(value), number, std::move(shown)});
    }
    void number(std::string key, long long value, std::string unit = {})
    {
        labelled(std::move(key), std::to_string(value) + unit, value);
    }
    // Bytes the decoder does not read any further.
    void rest(const Bytes& data, std::size_t from, std::string key = "data")
    {
        if (from < data.size())
            labelled(std::move(key), hexBytes(data, from));
    }

private:
    std::vector<DecodedField>& fields_;
};

void decodeFlags(const Bytes& data, FieldList& out)
{
    static const char* const names[] = {"LE Limited Discoverable Mode", "LE General Discoverable Mode",
                                        "BR/EDR Not Supported", "Simultaneous LE and BR/EDR (Controller)",
                                        "Simultaneous LE and BR/EDR (Host)"};
    std::string flags;
    for (int bit = 0; bit < 8; ++bit) {
        if ((data[0] & (1u << bit)) == 0)
            continue;
        flags += flags.empty() ? "" : ", ";
        flags += bit < 5 ? std::string(names[bit]) : "reserved bit " + std::to_string(bit);
    }
    out.plain("flags", flags.empty() ? "none" : flags);
    out.rest(data, 1);
}

void decodeUUIDList(const Bytes& data, std::size_t size, FieldList& out)
{
    std::string list;
    std::size_t at = 0;
    for (; at + size <= data.size(); at += size)
        list += (list.empty() ? "" : ", ") + uuidText(data, at, size, true);
    out.plain("uuids", list.empty() ? "none" : list);
    out.rest(data, at, "left over");
}

void decodeEddystone(const Bytes& data, std::size_t from, FieldList& out)
{
    const std::size_t size = data.size() - from;
    const std::uint8_t frame = data[from];
    if (frame == 0x00 && (size == 18 || size == 20)) {
        out.plain("frame", "Eddystone-UID");
        out.number("tx power at 0 m", signedByte(data[from + 1]), " dBm");
        out.labelled("namespace", hexBytes(data, from + 2, 10));
        out.labelled("instance", hexBytes(data, from + 12, 6));
        return;
    }
    if (frame == 0x10 && size >= 3) {
        static const char* const schemes[] = {"http://www.", "https://www.", "http://", "https://"};
        static const char* const expansions[] = {".com/", ".org/", ".edu/", ".net/", ".info/", ".biz/", ".gov/",
                                                 ".com",  ".org",  ".edu",  ".net",  ".info",  ".biz",  ".gov"};
        out.plain("frame", "Eddystone-URL");
        out.number("tx power at 0 m", signedByte(data[from + 1]), " dBm");
        const std::uint8_t scheme = data[from + 2];
        std::string url = scheme < 4 ? schemes[scheme] : "\\x" + hexByte(scheme);
        for (std::size_t i = from + 3; i < data.size(); ++i) {
            if (data[i] < 14)
                url += expansions[data[i]];
            else if (data[i] > 32 && data[i] < 127)
                url += static_cast<char>(data[i]);
            else
                url += "\\x" + hexByte(data[i]);
        }
        out.labelled("url", url);
        return;
    }
    if (frame == 0x20 && size == 14 && data[from + 1] == 0x00) {
        out.plain("frame", "Eddystone-TLM");
        out.number("battery", bigEndian(data, from + 2, 2), " mV");
        const std::uint32_t temperature = bigEndian(data, from + 4, 2);
        if (temperature == 0x8000)
            out.labelled("temperature", "not known");
        else
            out.labelled("temperature", decimal(static_cast<std::int16_t>(temperature) / 256.0) + " C");
        out.number("advertisements", bigEndian(data, from + 6, 4));
        out.labelled("uptime", decimal(bigEndian(data, from + 10, 4) / 10.0) + " s");
        return;
    }
    out.plain("frame", "Eddystone frame type 0x" + hexByte(frame));
    out.rest(data, from + 1);
}

void decodeServiceData(const Bytes& data, std::size_t uuidSize, FieldList& out)
{
    if (data.size() < uuidSize) {
        out.rest(data, 0);
        return;
    }
    const std::string uuid = uuidText(data, 0, uuidSize, true);
    out.labelled("uuid", uuid);
    if (uuidSize == 2 && littleEndian(data, 0, 2) == eddystoneService && data.size() > 2)
        decodeEddystone(data, 2, out);
    else
        out.rest(data, uuidSize);
}

void decodeManufacturerData(const Bytes& data, FieldList& out)
{
    if (data.size() < 2) {
        out.rest(data, 0);
        return;
    }
    const std::uint32_t company = littleEndian(data, 0, 2);
    const std::string_view name = CompanyName(company);
    out.labelled("company", "0x" + HexText(company, 4) + (name.empty() ? "" : " (" + std::string(name) + ")"),
                 company);
    const Bytes frame(data.begin() + 2, data.end());
    if (ibeacon::IsFrame(company, frame)) {
        out.plain("frame", "iBeacon");
        out.labelled("uuid", uuidText(frame, ibeacon::UUIDAt, ibeacon::UUIDBytes, false));
        out.number("major", bigEndian(frame, ibeacon::MajorAt, 2));
        out.number("minor", bigEndian(frame, ibeacon::MinorAt, 2));
        out.number("measured power", signedByte(frame[ibeacon::PowerAt]), " dBm");
        return;
    }
    out.rest(data, 2);
}

void decodeAppearance(const Bytes& data, FieldList& out)
{
    if (data.size() != 2) {
        out.rest(data, 0);
        return;
    }
    const std::uint32_t value = littleEndian(data, 0, 2);
    const std::string_view category = AppearanceCategoryName(value >> 6);
    out.labelled("appearance", "0x" + HexText(value, 4), value);
    out.plain("category", (category.empty() ? "category " + std::to_string(value >> 6) : std::string(category))
                              + ", subcategory " + std::to_string(value & 0x3F));
}

void decodeAddress(const Bytes& data, FieldList& out)
{
    if (data.size() != 7) {
        out.rest(data, 0);
        return;
    }
    std::string address;
    for (std::size_t i = 6; i > 0; --i)
        address += hexByte(data[i - 1]) + (i > 1 ? ":" : "");
    out.plain("address", address + ((data[6] & 1) != 0 ? " (random)" : " (public)"));
}

void decodeURI(const Bytes& data, FieldList& out)
{
    // The first byte stands for the scheme; 0x01 means none, 0x16 and 0x17 are the web's.
    const std::uint8_t scheme = data[0];
    const std::string prefix = scheme == 0x01 ? "" : scheme == 0x16 ? "http:" : scheme == 0x17 ? "https:"
                                                                          : "(scheme 0x" + hexByte(scheme) + ")";
    out.plain("uri", prefix + printableText(data, 1));
}

void decodeData(std::uint32_t type, const Bytes& data, FieldList& out)
{
    switch (type) {
    case 0x01: decodeFlags(data, out); return;
    case 0x02:
    case 0x03:
    case 0x14: decodeUUIDList(data, 2, out); return;
    case 0x04:
    case 0x05:
    case 0x1F: decodeUUIDList(data, 4, out); return;
    case 0x06:
    case 0x07:
    case 0x15: decodeUUIDList(data, 16, out); return;
    case 0x08:
    case 0x09:
    case 0x30: out.plain("name", printableText(data, 0)); return;
    case 0x0A:
        out.number("tx power", signedByte(data[0]), " dBm");
        out.rest(data, 1);
        return;
    case 0x0D:
        if (data.size() == 3) {
            out.plain("class", "0x" + HexText(littleEndian(data, 0, 3), 6));
            return;
        }
        break;
    case 0x12:
        if (data.size() == 4) {
            out.labelled("min", decimal(littleEndian(data, 0, 2) * 1.25) + " ms");
            out.labelled("max", decimal(littleEndian(data, 2, 2) * 1.25) + " ms");
            return;
        }
        break;
    case 0x16: decodeServiceData(data, 2, out); return;
    case 0x20: decodeServiceData(data, 4, out); return;
    case 0x21: decodeServiceData(data, 16, out); return;
    case 0x19: decodeAppearance(data, out); return;
    case 0x1A:
        if (data.size() == 2) {
            out.plain("interval", decimal(littleEndian(data, 0, 2) * 0.625) + " ms");
            return;
        }
        break;
    case 0x1B: decodeAddress(data, out); return;
    case 0x24: decodeURI(data, out); return;
    case 0xFF: decodeManufacturerData(data, out); return;
    default: break;
    }
    out.rest(data, 0);
}

Bytes bytesOf(const std::string& digits, std::size_t from, std::size_t count)
{
    Bytes bytes;
    for (std::size_t i = from; i < from + count; ++i)
        bytes.push_back(static_cast<std::uint8_t>(HexValue(std::string_view(digits).substr(2 * i, 2))));
    return bytes;
}

DecodedStructure decodeStructure(const std::string& digits, const ChainStructure& found)
{
    const Bytes whole = bytesOf(digits, found.position, found.length + 1);
    DecodedStructure structure{found.position + 1, found.length, whole[1], {}, hexBytes(whole), {}};
    const std::string_view name = AdvertisingTypeName(structure.type);
    structure.name = name.empty() ? "Unknown type 0x" + hexByte(structure.type) : std::string(name);
    FieldList fields(structure.fields);
    decodeData(structure.type, Bytes(whole.begin() + 2, whole.end()), fields);
    return structure;
}

std::string chainProblem(const ChainWalk& walk)
{
    const std::string where = "byte " + std::to_string(walk.faultPosition + 1) + ": length 0x"
        + hexByte(walk.faultLength);
    switch (walk.fault) {
    case ChainFault::LengthTooShort:
        return where + " is below 2; a structure holds its type and at least one byte";
    case ChainFault::LengthTooLong: return where + " is above 30 (0x1E), the longest a structure may be";
    case ChainFault::RunsPastEnd:
        return where + " runs past the end of the " + std::to_string(walk.byteCount) + " bytes";
    case ChainFault::LengthNotHex:
    case ChainFault::None: break;
    }
    return {};
}

std::string shownCharacter(char c)
{
    const auto code = static_cast<unsigned char>(c);
    return code >= 32 && code <= 126 ? "'" + std::string(1, c) + "'" : "\\x" + hexByte(code);
}

} // namespace

std::string DecodedStructure::meaning() const
{
    std::string text = name;
    for (const DecodedField& field : fields)
        text += (&field == &fields.front() ? ": " : ", ") + field.shown;
    return text;
}

DecodedPackage DecodePackage(std::string_view text)
{
    DecodedPackage package;
    const std::string trimmed = TrimField(text);
    if (trimmed.empty()) {
        package.problem = "the package is empty";
        return package;
    }
    if (!HasValidPackageLength(trimmed)) {
        package.problem = trimmed.size() < ShortestPackageText
            ? "too short: " + std::to_string(trimmed.size()) + " characters, and a package needs at least 6 (3 bytes)"
            : "an odd number of digits (" + std::to_string(trimmed.size()) + "): every byte takes two";
        return package;
    }
    package.digits = PackageDigits(trimmed);
    const std::size_t prefixLength = trimmed.size() - package.digits.size();
    for (std::size_t i = 0; i < package.digits.size(); ++i) {
        if (!IsHexDigit(package.digits[i])) {
            package.problem = "character " + std::to_string(i + prefixLength + 1) + " ("
                + shownCharacter(trimmed[i + prefixLength]) + ") is not a hex digit";
            return package;
        }
    }
    const ChainWalk walk = WalkAdvertisingData(package.digits, package.digits.size());
    package.walked = true;
    package.byteCount = walk.byteCount;
    for (const ChainStructure& found : walk.structures)
        package.structures.push_back(decodeStructure(package.digits, found));
    package.accepted = walk.fault == ChainFault::None;
    package.problem = chainProblem(walk);
    if (package.accepted && package.byteCount > AdvertisingPacketBytes)
        package.warnings.push_back("warning: " + std::to_string(package.byteCount)
                                   + " bytes, but one advertising packet holds 31; the module is sent all of them");
    return package;
}

std::vector<std::string> DescribePackage(const DecodedPackage& package)
{
    std::vector<std::string> lines;
    if (!package.walked)
        return lines;
    const std::size_t count = package.structures.size();
    lines.push_back(package.digits + ": " + std::to_string(package.byteCount) + " of 31 bytes, " + std::to_string(count)
                    + (count == 1 ? " structure" : " structures"));
    std::size_t positionWidth = 0;
    std::size_t rawWidth = 0;
    for (const DecodedStructure& structure : package.structures) {
        positionWidth = std::max(positionWidth, std::to_string(structure.position).size());
        rawWidth = std::max(rawWidth, structure.raw.size() + 2);
    }
    for (const DecodedStructure& structure : package.structures) {
        std::string position = std::to_string(structure.position);
        position.insert(0, positionWidth - position.size(), ' ');
        // Length and type apart from the data, so that the reader finds the structure's frame.
        std::string raw = structure.raw.substr(0, 2) + " " + structure.raw.substr(2, 2) + " " + structure.raw.substr(4);
        raw.append(rawWidth - raw.size() + 2, ' ');
        lines.push_back("  byte " + position + "  " + raw + structure.meaning());
    }
    lines.insert(lines.end(), package.warnings.begin(), package.warnings.end());
    return lines;
}

} // namespace qz
