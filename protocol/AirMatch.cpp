#include "AirMatch.h"

#include "AssignedNumbers.h"
#include "FieldRules.h"
#include "PackageDecoder.h"

#include <algorithm>
#include <utility>

namespace qz::air {

namespace {

constexpr std::string_view baseUUIDTail = "-0000-1000-8000-00805f9b34fb";
constexpr int shortListeningSeconds = 10;
constexpr int restartListeningSeconds = 30;

enum AdvertisingType : std::uint8_t {
    flagsType = 0x01,
    incomplete16 = 0x02,
    complete16 = 0x03,
    complete128 = 0x07,
    shortName = 0x08,
    completeName = 0x09,
    txPowerType = 0x0A,
    serviceData16 = 0x16,
    appearanceType = 0x19,
    serviceData32 = 0x20,
    serviceData128 = 0x21,
    manufacturerType = 0xFF,
};

// Where bluetoothd 5.66 puts what it hears (src/eir.c, and the types src/shared/ad.c keeps
// out of AdvertisingData); a type not listed goes to AdvertisingData.
struct Shown {
    std::uint8_t first;
    std::uint8_t last;
    ShownAs as;
};
constexpr Shown whereShown[] = {
    {0x01, 0x01, ShownAs::Flags},       {0x02, 0x07, ShownAs::UUIDs},
    {0x08, 0x09, ShownAs::Name},        {0x0A, 0x0A, ShownAs::TxPower},
    {0x0D, 0x12, ShownAs::Nowhere},     {0x14, 0x15, ShownAs::Nowhere},
    {0x16, 0x16, ShownAs::ServiceData}, {0x17, 0x18, ShownAs::Nowhere},
    {0x19, 0x19, ShownAs::Appearance},  {0x1A, 0x1F, ShownAs::Nowhere},
    {0x20, 0x21, ShownAs::ServiceData}, {0x22, 0x23, ShownAs::Nowhere},
    {0x27, 0x2B, ShownAs::Nowhere},     {0xFF, 0xFF, ShownAs::ManufacturerData},
};

// Nothing for a text that is not hex digits two by two.
Bytes bytesOfDigits(std::string_view digits)
{
    Bytes bytes;
    if (digits.size() % 2 != 0 || !AllHexDigits(digits))
        return bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes += static_cast<char>(HexValue(digits.substr(i, 2)));
    return bytes;
}

// The UUID that 2, 4 or 16 little-endian bytes stand for, as BlueZ writes it.
std::string uuidOf(std::string_view littleEndian)
{
    std::string digits = LowerCase(HexOfBytes(std::string(littleEndian.rbegin(), littleEndian.rend())));
    if (digits.size() == 4)
        digits.insert(0, "0000");
    if (digits.size() == 8)
        return digits + std::string(baseUUIDTail);
    return digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" + digits.substr(12, 4) + "-" + digits.substr(16, 4)
        + "-" + digits.substr(20);
}

// The little-endian bytes of a UUID as BlueZ writes it: two for one of the Bluetooth base.
Bytes bytesOfUUID(const std::string& uuid)
{
    std::string digits = LowerCase(uuid);
    const bool short16 = digits.size() == 36 && digits.compare(0, 4, "0000") == 0
        && digits.compare(8, std::string::npos, baseUUIDTail) == 0;
    digits = UpperCase(short16 ? digits.substr(4, 4) : RemoveDashes(digits));
    if (!AllHexDigits(digits) || (digits.size() != 4 && digits.size() != 32))
        return {};
    Bytes bytes = bytesOfDigits(digits);
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

std::string structureName(std::uint8_t type)
{
    const std::string_view name = AdvertisingTypeName(type);
    return name.empty() ? "Unknown type 0x" + HexText(type, 2) : std::string(name);
}

// A structure's data as the decoder words it: "Complete Local Name: \"Lamp-01\"".
std::string structureWords(std::uint8_t type, std::string_view data)
{
    const std::string digits = HexText(data.size() + 1, 2) + HexText(type, 2) + HexOfBytes(data);
    const DecodedPackage package = DecodePackage(digits);
    if (data.size() + 1 <= 0xFF && !package.structures.empty())
        return package.structures.front().meaning();
    return structureName(type) + ": " + HexOfBytes(data);
}

struct Structure {
    std::uint8_t type;
    Bytes data;
    std::uint8_t packages = 0; // the module's packages that carry it, where that is known
    bool operator==(const Structure& other) const { return type == other.type && data == other.data; }
};

// The structures of a package as AT+Z carries it: padded with zeros, which end the chain.
std::vector<Structure> structuresOf(const Bytes& package)
{
    std::vector<Structure> structures;
    for (std::size_t at = 0; at < package.size();) {
        const auto length = static_cast<unsigned char>(package[at]);
        if (length == 0 || at + 1 + length > package.size())
            break;
        structures.push_back({static_cast<std::uint8_t>(package[at + 1]), package.substr(at + 2, length - 1u)});
        at += 1u + length;
    }
    return structures;
}

// The pattern that finds this structure: its whole data, which bluetoothd takes as a
// pattern's content unless it is empty. (Every type that only a pattern proves is one
// bluetoothd takes in a pattern.)
std::optional<Pattern> patternOf(const Structure& structure)
{
    if (structure.data.empty())
        return std::nullopt;
    return Pattern{structure.type, structure.data};
}

bool foundByMonitor(const HeardDevice& device, const Pattern& pattern)
{
    return std::find(device.found.begin(), device.found.end(), pattern) != device.found.end();
}

std::string beaconUUIDWords(std::string_view bytes)
{
    const std::string digits = HexOfBytes(bytes);
    return "iBeacon UUID " + digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" + digits.substr(12, 4) + "-" + digits.substr(16, 4)
        + "-" + digits.substr(20);
}

std::string beaconNumberWords(std::string_view name, std::string_view bytes)
{
    const auto value = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0]) * 256u
                                                  + static_cast<unsigned char>(bytes[1]));
    return std::string(name) + " " + std::to_string(value) + " (0x" + HexText(value, 4) + ")";
}

// The iBeacon frame a device carries, after Apple's company identifier.
std::optional<Bytes> beaconOf(const HeardDevice& device)
{
    if (!device.manufacturerData)
        return std::nullopt;
    const auto apple = device.manufacturerData->find(ibeacon::Company);
    if (apple == device.manufacturerData->end() || !ibeacon::IsFrame(apple->first, apple->second))
        return std::nullopt;
    return apple->second;
}

bool isDifference(const Check& check)
{
    return check.result == CheckResult::Differed || check.result == CheckResult::Extra;
}

bool isUnconfirmed(const Check& check)
{
    return check.result == CheckResult::Unconfirmed;
}

Check compared(std::string what, std::string expected, std::optional<std::string> heard)
{
    const CheckResult result = heard == expected ? CheckResult::Matched : CheckResult::Differed;
    return {result, std::move(what), std::move(expected), heard.value_or("")};
}

Check beaconCheck(const Expected& item, const std::optional<Bytes>& beacon)
{
    switch (item.kind) {
    case Expected::Kind::BeaconUUID:
        return compared("iBeacon UUID", beaconUUIDWords(item.data),
                        beacon ? std::optional(beaconUUIDWords(beacon->substr(ibeacon::UUIDAt, ibeacon::UUIDBytes))) : std::nullopt);
    case Expected::Kind::BeaconMajor:
        return compared("major", beaconNumberWords("major", item.data),
                        beacon ? std::optional(beaconNumberWords("major", beacon->substr(ibeacon::MajorAt, 2))) : std::nullopt);
    default: break;
    }
    return compared("minor", beaconNumberWords("minor", item.data),
                    beacon ? std::optional(beaconNumberWords("minor", beacon->substr(ibeacon::MinorAt, 2))) : std::nullopt);
}

// A keyed value heard (service data by UUID, manufacturer data by company) in words.
template <typename Map, typename Key>
std::optional<std::string> heardEntry(const std::optional<Map>& heard, const Key& key, std::uint8_t type,
                                      const Bytes& keyBytes)
{
    if (!heard)
        return std::nullopt;
    const auto found = heard->find(key);
    if (found == heard->end())
        return std::nullopt;
    return structureWords(type, keyBytes + found->second);
}

std::optional<std::string> heardServiceData(const HeardDevice& device, const Structure& structure, std::size_t uuidSize)
{
    if (!device.serviceData)
        return std::nullopt;
    const std::string uuid = uuidOf(std::string_view(structure.data).substr(0, uuidSize));
    for (const auto& [key, data] : *device.serviceData) {
        if (LowerCase(key) == uuid)
            return structureWords(structure.type, structure.data.substr(0, uuidSize) + data);
    }
    return std::nullopt;
}

std::string uuidListWords(const std::vector<std::string>& uuids)
{
    std::string words;
    for (const std::string& uuid : uuids) {
        const Bytes bytes = bytesOfUUID(uuid);
        words += (words.empty() ? "" : ", ") + (bytes.size() == 2 ? HexOfBytes(Bytes(bytes.rbegin(), bytes.rend())) : uuid);
    }
    return "service UUIDs " + (words.empty() ? std::string("none") : words);
}

Check uuidListCheck(const HeardDevice& device, const Structure& structure)
{
    const std::string what = structureName(structure.type);
    const std::string expected = structureWords(structure.type, structure.data);
    if (!device.uuids)
        return {CheckResult::Differed, what, expected, ""};
    const std::size_t size = structure.type <= 0x03 ? 2 : structure.type <= 0x05 ? 4 : 16;
    bool all = structure.data.size() % size == 0;
    for (std::size_t at = 0; all && at < structure.data.size(); at += size) {
        const std::string uuid = uuidOf(std::string_view(structure.data).substr(at, size));
        all = std::any_of(device.uuids->begin(), device.uuids->end(),
                          [&uuid](const std::string& heard) { return LowerCase(heard) == uuid; });
    }
    return {all ? CheckResult::Matched : CheckResult::Differed, what, expected, uuidListWords(*device.uuids)};
}

Check notShown(const Structure& structure)
{
    return {CheckResult::NotShown, structureName(structure.type), structureWords(structure.type, structure.data), ""};
}

// What BlueZ cannot show as heard now, and the monitor may prove: what is unproven
// without it, and why, for the one note that names them.
struct Proving {
    Proof proof;
    std::vector<std::string> withoutMonitor;
    std::vector<Pattern> asked; // every pattern a check looked for
    // Heard by the monitor: the packages of each structure it found. bluetoothd's monitor
    // may not hear a package at all (nothing while BlueZ discovers, for some packages), so
    // what it never found is missing only from a package it is known to have heard.
    std::vector<std::uint8_t> heardPackages;
    std::vector<std::string> notHeard;
};

// A structure found that is sent in no package but these: one of them was heard.
bool packageHeard(const Proving& proving, std::uint8_t packages)
{
    return std::any_of(proving.heardPackages.begin(), proving.heardPackages.end(),
                       [packages](std::uint8_t found) { return (found & ~packages) == 0; });
}

// A structure BlueZ cannot show as heard: what the monitor found, or its silence once it
// listened all along, decides; without it, unproven stands.
Check proofCheck(const HeardDevice& device, const Structure& structure, Proving& proving, Check unproven)
{
    const std::optional<Pattern> pattern = patternOf(structure);
    if (pattern)
        proving.asked.push_back(*pattern);
    if (pattern && foundByMonitor(device, *pattern))
        return {CheckResult::Matched, unproven.what, unproven.expected, unproven.expected, true};
    if (pattern && proving.proof == Proof::None)
        proving.withoutMonitor.push_back(unproven.what);
    if (!pattern || proving.proof == Proof::None)
        return unproven;
    if (proving.proof == Proof::Awaited)
        return {CheckResult::Unconfirmed, unproven.what, unproven.expected, unproven.heard};
    if (!packageHeard(proving, structure.packages)) {
        proving.notHeard.push_back(unproven.what);
        return unproven;
    }
    return {CheckResult::Differed, unproven.what, unproven.expected,
            "no " + unproven.what + " in what it sent (bluetoothd's monitor never found it)"};
}

std::string listed(const std::vector<std::string>& whats)
{
    std::string words;
    for (const std::string& what : whats)
        words += (words.empty() ? "" : ", ") + what;
    return words;
}

// Said once: what stays unproven, and why.
std::vector<std::string> proofNotes(const Proving& proving, const std::string& why)
{
    std::vector<std::string> notes;
    if (!proving.withoutMonitor.empty())
        notes.push_back("not confirmed without bluetoothd's advertisement monitor: " + listed(proving.withoutMonitor)
                        + "; " + why);
    if (!proving.notHeard.empty())
        notes.push_back("not confirmed: bluetoothd's advertisement monitor did not hear the package that holds "
                        + listed(proving.notHeard));
    return notes;
}

std::string withoutTrailingNuls(std::string name)
{
    while (!name.empty() && name.back() == '\0')
        name.pop_back();
    return name;
}

// BlueZ keeps one name, without trailing NULs: a complete one heard replaces any other, a
// shortened one shows only where it knew none. A name it may have kept from before is no
// proof, unless it differs from a complete name the module would have sent: only the
// monitor can tell whether the module sends it.
Check nameCheck(const HeardDevice& device, const Structure& structure, bool completeNameToo, Proving& proving)
{
    const std::string what = structureName(structure.type);
    const std::string name = withoutTrailingNuls(structure.data);
    const std::string expected = structureWords(structure.type, name);
    if (structure.type == shortName && completeNameToo)
        return proofCheck(device, structure, proving, {CheckResult::NotShown, what, expected, ""});
    if (!device.name)
        return {CheckResult::Differed, what, expected, ""};
    const std::string heard = structureWords(structure.type, *device.name);
    if (!device.nameMaybeCached)
        return compared(what, expected, heard);
    if (structure.type == completeName && *device.name != name)
        return {CheckResult::Differed, what, expected, heard};
    return proofCheck(device, structure, proving, {CheckResult::Unconfirmed, what, expected, heard});
}

std::string appearanceWords(std::uint16_t appearance)
{
    return structureWords(appearanceType, Bytes{static_cast<char>(appearance & 0xFF), static_cast<char>(appearance >> 8)});
}

Check structureCheck(const HeardDevice& device, const Structure& structure, bool completeNameToo, Proving& proving)
{
    const std::string what = structureName(structure.type);
    const std::string expected = structureWords(structure.type, structure.data);
    const auto withHeard = [&](std::optional<std::string> heard) { return compared(what, expected, std::move(heard)); };
    switch (WhereBlueZShows(structure.type)) {
    case ShownAs::Flags:
        // Shown with bluetoothd -E before 5.79; 0 is what it shows when no flags were sent.
        if (!device.flags)
            return notShown(structure);
        if (device.flags->empty() || device.flags->front() == '\0')
            return withHeard(std::nullopt);
        return withHeard(structureWords(flagsType, device.flags->substr(0, 1)));
    case ShownAs::Name: return nameCheck(device, structure, completeNameToo, proving);
    case ShownAs::TxPower:
        return withHeard(device.txPower
                             ? std::optional(structureWords(txPowerType, Bytes(1, static_cast<char>(*device.txPower))))
                             : std::nullopt);
    case ShownAs::Appearance:
        // BlueZ reads two bytes, and shows none that is 0.
        if (structure.data.size() < 2)
            return proofCheck(device, structure, proving, notShown(structure));
        return withHeard(device.appearance ? std::optional(appearanceWords(*device.appearance)) : std::nullopt);
    case ShownAs::ServiceData: {
        const std::size_t uuidSize = structure.type == serviceData16 ? 2 : structure.type == serviceData32 ? 4 : 16;
        // BlueZ drops service data too short to hold its UUID.
        if (structure.data.size() < uuidSize)
            return proofCheck(device, structure, proving, notShown(structure));
        return withHeard(heardServiceData(device, structure, uuidSize));
    }
    case ShownAs::ManufacturerData:
        if (structure.data.size() < 2)
            return proofCheck(device, structure, proving, notShown(structure));
        return withHeard(heardEntry(device.manufacturerData,
                                    static_cast<std::uint16_t>(static_cast<unsigned char>(structure.data[0])
                                                               + 256 * static_cast<unsigned char>(structure.data[1])),
                                    manufacturerType, structure.data.substr(0, 2)));
    case ShownAs::UUIDs: return uuidListCheck(device, structure);
    case ShownAs::Nowhere: return proofCheck(device, structure, proving, notShown(structure));
    case ShownAs::AdvertisingData: break;
    }
    if (!device.advertisingData)
        return notShown(structure);
    return withHeard(heardEntry(device.advertisingData, structure.type, structure.type, Bytes()));
}

Check extra(std::string what, std::string heard)
{
    return {CheckResult::Extra, std::move(what), {}, std::move(heard)};
}

bool holds(const std::vector<Structure>& structures, std::uint8_t type)
{
    return std::any_of(structures.begin(), structures.end(), [type](const Structure& s) { return s.type == type; });
}

bool holdsKey(const std::vector<Structure>& structures, ShownAs as, std::size_t keySize, const Bytes& key)
{
    return std::any_of(structures.begin(), structures.end(), [&](const Structure& s) {
        return WhereBlueZShows(s.type) == as && s.data.size() >= keySize && s.data.compare(0, keySize, key) == 0;
    });
}

// What was heard that neither package holds: an old setting, or another device's. A name
// BlueZ may have kept from before proves nothing; the module's own name is its own.
std::vector<Check> extras(const Expectation& expectation, const std::vector<Structure>& structures,
                          const HeardDevice& device)
{
    std::vector<Check> found;
    for (const auto& [company, data] : device.manufacturerData.value_or(std::map<std::uint16_t, Bytes>())) {
        const Bytes key{static_cast<char>(company & 0xFF), static_cast<char>(company >> 8)};
        if (!holdsKey(structures, ShownAs::ManufacturerData, 2, key))
            found.push_back(extra(structureName(manufacturerType), structureWords(manufacturerType, key + data)));
    }
    for (const auto& [uuid, data] : device.serviceData.value_or(std::map<std::string, Bytes>())) {
        const Bytes key = bytesOfUUID(uuid);
        if (!holdsKey(structures, ShownAs::ServiceData, key.size(), key)) {
            const std::uint8_t type = key.size() == 2 ? serviceData16 : serviceData128;
            found.push_back(extra(structureName(type), structureWords(type, key + data)));
        }
    }
    // Every UUID the lists hold, as BlueZ writes it whatever its size.
    std::vector<std::string> listedUUIDs;
    for (const Structure& s : structures) {
        const std::size_t size = s.type <= 0x03 ? 2 : s.type <= 0x05 ? 4 : 16;
        for (std::size_t at = 0; WhereBlueZShows(s.type) == ShownAs::UUIDs && at + size <= s.data.size(); at += size)
            listedUUIDs.push_back(uuidOf(std::string_view(s.data).substr(at, size)));
    }
    for (const std::string& uuid : device.uuids.value_or(std::vector<std::string>())) {
        const bool listed = std::find(listedUUIDs.begin(), listedUUIDs.end(), LowerCase(uuid)) != listedUUIDs.end();
        if (!listed)
            found.push_back(extra("service UUID", uuidListWords({uuid})));
    }
    if (device.txPower && !holds(structures, txPowerType))
        found.push_back(extra(structureName(txPowerType),
                              structureWords(txPowerType, Bytes(1, static_cast<char>(*device.txPower)))));
    if (device.appearance && !holds(structures, appearanceType))
        found.push_back(extra(structureName(appearanceType), appearanceWords(*device.appearance)));
    const bool nameListed = holds(structures, shortName) || holds(structures, completeName);
    if (device.name && !NameMaybeRemembered(device) && !nameListed && device.name != expectation.pageName)
        found.push_back(extra("name", "name \"" + *device.name + "\""));
    for (const auto& [type, data] : device.advertisingData.value_or(std::map<std::uint8_t, Bytes>())) {
        if (!holds(structures, type))
            found.push_back(extra(structureName(type), structureWords(type, data)));
    }
    return found;
}

std::string signalWords(const std::optional<int>& rssi)
{
    return rssi ? ", RSSI " + std::to_string(*rssi) + " dBm" : "";
}

std::string deviceWords(const Verdict& verdict)
{
    return verdict.address + (verdict.name ? " (" + *verdict.name + ")" : "") + signalWords(verdict.rssi);
}

std::string lookedFor(const Verdict& verdict)
{
    return verdict.address.empty() ? "no iBeacon was heard" : "no device at " + verdict.address + " was heard";
}

// Compares, the monitor's findings and their proof as proving says; the notes are the caller's.
Verdict compareWith(const Expectation& expectation, const HeardDevice& device, Proving& proving)
{
    Verdict verdict;
    verdict.address = device.address;
    verdict.name = device.name;
    verdict.rssi = device.rssi;
    verdict.restartNeeded = expectation.restartNeeded;
    const std::optional<Bytes> beacon = beaconOf(device);
    std::vector<Structure> structures;
    for (const Expected& item : expectation.items) {
        if (item.kind == Expected::Kind::Structure)
            structures.push_back({item.type, item.data});
    }
    const bool completeNameToo = holds(structures, completeName);
    for (const Expected& item : expectation.items) {
        const std::optional<Pattern> pattern = patternOf({item.type, item.data});
        if (item.kind == Expected::Kind::Structure && pattern && foundByMonitor(device, *pattern))
            proving.heardPackages.push_back(item.packages);
    }
    for (const Expected& item : expectation.items) {
        if (item.kind == Expected::Kind::Address)
            verdict.checks.push_back(compared("address", "address " + item.data, "address " + UpperCase(device.address)));
        else if (item.kind == Expected::Kind::Structure)
            verdict.checks.push_back(structureCheck(device, {item.type, item.data, item.packages}, completeNameToo, proving));
        else
            verdict.checks.push_back(beaconCheck(item, beacon));
    }
    if (expectation.kind == Expectation::Kind::Broadcast) {
        for (Check& found : extras(expectation, structures, device))
            verdict.checks.push_back(std::move(found));
    }
    if (beacon && expectation.kind == Expectation::Kind::Beacon)
        verdict.shown.push_back("measured power " + std::to_string(static_cast<signed char>((*beacon)[ibeacon::PowerAt])) + " dBm");
    const bool differs = std::any_of(verdict.checks.begin(), verdict.checks.end(), isDifference);
    const bool unconfirmed = std::any_of(verdict.checks.begin(), verdict.checks.end(), isUnconfirmed);
    verdict.outcome = differs ? Outcome::HeardOtherwise : unconfirmed ? Outcome::HeardNotConfirmed : Outcome::HeardAsSet;
    return verdict;
}

} // namespace

std::string HexOfBytes(std::string_view bytes)
{
    std::string digits;
    for (const char byte : bytes)
        digits += HexText(static_cast<unsigned char>(byte), 2);
    return digits;
}

void Merge(HeardDevice& device, const HeardDevice& update)
{
    const auto take = [](auto& kept, const auto& fresh) {
        if (fresh)
            kept = fresh;
    };
    if (!update.address.empty())
        device.address = update.address;
    if (update.name) {
        device.name = update.name;
        device.nameMaybeCached = update.nameMaybeCached;
    }
    take(device.rssi, update.rssi);
    take(device.txPower, update.txPower);
    take(device.manufacturerData, update.manufacturerData);
    take(device.serviceData, update.serviceData);
    take(device.uuids, update.uuids);
    take(device.flags, update.flags);
    take(device.appearance, update.appearance);
    take(device.advertisingData, update.advertisingData);
    for (const Pattern& pattern : update.found) {
        if (!foundByMonitor(device, pattern))
            device.found.push_back(pattern);
    }
}

bool NameMaybeRemembered(const HeardDevice& device)
{
    if (!device.name || !device.nameMaybeCached)
        return false;
    const std::vector<Pattern> patterns = NamePatterns(*device.name);
    return std::none_of(patterns.begin(), patterns.end(),
                        [&device](const Pattern& pattern) { return foundByMonitor(device, pattern); });
}

ShownAs WhereBlueZShows(std::uint8_t type)
{
    for (const Shown& shown : whereShown) {
        if (type >= shown.first && type <= shown.last)
            return shown.as;
    }
    return ShownAs::AdvertisingData;
}

Expectation ExpectedOnAir(const Advertised& advertised)
{
    Expectation expectation;
    expectation.restartNeeded = advertised.restartNeeded;
    if (advertised.kind == Advertised::Kind::Beacon) {
        const Bytes uuid = bytesOfDigits(advertised.beaconUUID);
        if (uuid.size() != 16)
            return expectation;
        const auto twoBytes = [](std::uint16_t value) { return Bytes{static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)}; };
        expectation.kind = Expectation::Kind::Beacon;
        expectation.items.push_back({Expected::Kind::BeaconUUID, 0, uuid});
        expectation.items.push_back({Expected::Kind::BeaconMajor, 0, twoBytes(advertised.major)});
        expectation.items.push_back({Expected::Kind::BeaconMinor, 0, twoBytes(advertised.minor)});
        return expectation;
    }
    const std::string& address = advertised.address;
    if (advertised.kind != Advertised::Kind::Broadcast || !IsDeviceAddress(address))
        return expectation;
    expectation.kind = Expectation::Kind::Broadcast;
    expectation.address = ColonAddress(address);
    expectation.pageName = advertised.name;
    expectation.items.push_back({Expected::Kind::Address, 0, *expectation.address});
    // BlueZ shows the advertising package and the scan response as one device: a structure
    // that both carry is one thing to hear.
    const auto add = [&expectation](const std::string& package, std::uint8_t in) {
        for (const Structure& structure : structuresOf(bytesOfDigits(package))) {
            const auto same = std::find_if(expectation.items.begin(), expectation.items.end(), [&](const Expected& item) {
                return item.kind == Expected::Kind::Structure && item.type == structure.type && item.data == structure.data;
            });
            if (same != expectation.items.end())
                same->packages |= in;
            else
                expectation.items.push_back({Expected::Kind::Structure, structure.type, structure.data, in});
        }
    };
    add(advertised.advertPackage, Expected::InAdvertisement);
    add(advertised.scanResponse, Expected::InScanResponse);
    return expectation;
}

std::vector<Pattern> ProofPatterns(const Expectation& expectation)
{
    // What the checks ask the monitor about when BlueZ shows the module's own name as one it
    // may remember: every structure that only a pattern can prove.
    HeardDevice remembering;
    remembering.nameMaybeCached = true;
    for (const Expected& item : expectation.items) {
        if (item.kind == Expected::Kind::Structure && WhereBlueZShows(item.type) == ShownAs::Name
            && (!remembering.name || item.type == completeName))
            remembering.name = withoutTrailingNuls(item.data);
    }
    Proving proving{Proof::Awaited, {}, {}, {}, {}};
    compareWith(expectation, remembering, proving);
    std::vector<Pattern> patterns = proving.asked;
    if (patterns.empty())
        return patterns;
    for (const Expected& item : expectation.items) {
        const std::optional<Pattern> pattern = patternOf({item.type, item.data});
        if (item.kind == Expected::Kind::Structure && pattern
            && std::find(patterns.begin(), patterns.end(), *pattern) == patterns.end())
            patterns.push_back(*pattern);
    }
    return patterns;
}

std::vector<Pattern> NamePatterns(const std::string& name)
{
    std::vector<Pattern> patterns;
    for (const std::uint8_t type : {completeName, shortName}) {
        if (std::optional<Pattern> pattern = patternOf({type, name}))
            patterns.push_back(*pattern);
    }
    return patterns;
}

bool IsCandidate(const Expectation& expectation, const HeardDevice& device)
{
    switch (expectation.kind) {
    case Expectation::Kind::Beacon: return beaconOf(device).has_value();
    case Expectation::Kind::Broadcast: return expectation.address && UpperCase(device.address) == *expectation.address;
    case Expectation::Kind::Silent: break;
    }
    return false;
}

Verdict Compare(const Expectation& expectation, const HeardDevice& device, Proof proof, const std::string& why)
{
    Proving proving{proof, {}, {}, {}, {}};
    Verdict verdict = compareWith(expectation, device, proving);
    for (std::string& note : proofNotes(proving, why))
        verdict.notes.push_back(std::move(note));
    return verdict;
}

Listening::Listening(Expectation expectation) : expectation_(std::move(expectation))
{
    // Nothing to ask the monitor: nothing to wait for.
    if (ProofPatterns(expectation_).empty())
        patterns_ = Patterns::Unavailable;
}

// A beacon with the module's UUID and major but another minor is a neighbour's, not the
// module set otherwise: the minor is what the batch tells them apart by.
bool onlyMinorDiffers(const Verdict& verdict)
{
    return std::all_of(verdict.checks.begin(), verdict.checks.end(), [](const Check& check) {
        return (check.result == CheckResult::Differed) == (check.what == "minor");
    });
}

std::optional<Verdict> Listening::heard(const HeardDevice& device)
{
    if (!IsCandidate(expectation_, device))
        return std::nullopt;
    const Proof proof = patterns_ == Patterns::Unavailable ? Proof::None : Proof::Awaited;
    Verdict verdict = Compare(expectation_, device, proof, unavailableWhy_);
    if (std::optional<Verdict> told = decide(verdict))
        return told;
    if (expectation_.kind == Expectation::Kind::Beacon && onlyMinorDiffers(verdict)) {
        const Bytes minor = beaconOf(device)->substr(ibeacon::MinorAt, 2);
        neighbours_[device.address] = std::to_string(static_cast<unsigned char>(minor[0]) * 256
                                                     + static_cast<unsigned char>(minor[1]));
        if (closest_ && closest_->address == device.address)
            closest_.reset();
        return std::nullopt;
    }
    neighbours_.erase(device.address);
    const auto matches = static_cast<std::size_t>(std::count_if(
        verdict.checks.begin(), verdict.checks.end(), [](const Check& check) { return check.result == CheckResult::Matched; }));
    // The same device heard again replaces what it said before; another must match more.
    if (!closest_ || closest_->address == device.address || matches > closestMatches_) {
        closest_ = device;
        closestMatches_ = matches;
    }
    return std::nullopt;
}

// Heard as set ends it; so does a remembered name that nothing can prove any more.
std::optional<Verdict> Listening::decide(const Verdict& verdict) const
{
    const bool unprovable = verdict.outcome == Outcome::HeardNotConfirmed && patterns_ == Patterns::Unavailable;
    if (verdict.outcome == Outcome::HeardAsSet || unprovable)
        return verdict;
    return std::nullopt;
}

void Listening::patternsActive()
{
    if (patterns_ == Patterns::Asked)
        patterns_ = Patterns::Active;
}

std::optional<Verdict> Listening::patternsUnavailable(std::string why)
{
    patterns_ = Patterns::Unavailable;
    unavailableWhy_ = std::move(why);
    if (!closest_)
        return std::nullopt;
    return decide(Compare(expectation_, *closest_, Proof::None, unavailableWhy_));
}

Verdict Listening::timedOut() const
{
    if (expectation_.kind == Expectation::Kind::Silent)
        return {Outcome::Silent, {}, {}, {}, {}, {}, {}, false};
    if (closest_ && patterns_ == Patterns::Asked)
        return Compare(expectation_, *closest_, Proof::None,
                       "bluetoothd's advertisement monitor had not started when listening ended");
    if (closest_)
        return Compare(expectation_, *closest_, patterns_ == Patterns::Active ? Proof::Final : Proof::None, unavailableWhy_);
    Verdict verdict = stopped();
    verdict.outcome = Outcome::NotHeard;
    for (const auto& [address, minor] : neighbours_)
        verdict.notes.push_back("another beacon with this UUID and major was heard: minor " + minor + " at " + address);
    return verdict;
}

Verdict Listening::stopped() const
{
    Verdict verdict;
    verdict.outcome = Outcome::Stopped;
    verdict.address = expectation_.address.value_or("");
    verdict.restartNeeded = expectation_.restartNeeded;
    return verdict;
}

int DefaultListeningSeconds(const Expectation& expectation)
{
    return expectation.restartNeeded ? restartListeningSeconds : shortListeningSeconds;
}

std::string RestartAdvice(const Expectation& expectation, int seconds)
{
    if (!expectation.restartNeeded)
        return {};
    return "the list has no AT+RESET, and the module applies some settings only after a restart: power the module "
           "off and on now; listening for "
        + std::to_string(seconds) + " s";
}

std::string OutcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::HeardAsSet: return "heard as set";
    case Outcome::HeardOtherwise: return "heard otherwise";
    case Outcome::HeardNotConfirmed: return "heard, not confirmed";
    case Outcome::Silent: return "silent";
    case Outcome::Stopped: return "stopped";
    case Outcome::NotHeard: break;
    }
    return "not heard";
}

std::string VerdictSummary(const Verdict& verdict)
{
    switch (verdict.outcome) {
    case Outcome::HeardAsSet: return "heard as set: " + deviceWords(verdict);
    case Outcome::HeardOtherwise: {
        const auto differences = std::count_if(verdict.checks.begin(), verdict.checks.end(), isDifference);
        return "heard otherwise: " + deviceWords(verdict) + ", " + std::to_string(differences)
            + (differences == 1 ? " difference" : " differences");
    }
    case Outcome::HeardNotConfirmed: return "heard, not confirmed: " + deviceWords(verdict);
    case Outcome::NotHeard:
        return "not heard: " + lookedFor(verdict)
            + (verdict.restartNeeded ? "; the module may need a restart: power it off and on, then check again" : "");
    case Outcome::Stopped: return "stopped: listening was stopped before the module was heard as set";
    case Outcome::Silent: break;
    }
    return std::string(SilentWords);
}

std::size_t VerdictLineIn(std::string_view message)
{
    // How each summary begins, and the words of a radio lost while listening.
    static constexpr std::string_view beginnings[] = {"heard as set: ", "heard otherwise: ", "heard, not confirmed: ",
                                                      "not heard: ", "stopped: listening", "the study list makes",
                                                      "cannot listen over the air: "};
    std::size_t first = std::string_view::npos;
    for (std::string_view beginning : beginnings) {
        const std::size_t at = message.find("; " + std::string(beginning));
        first = std::min(first, at);
    }
    return first;
}

std::string VerdictLine(const Verdict& verdict)
{
    std::string line = VerdictSummary(verdict);
    for (const Check& check : verdict.checks) {
        if (check.result == CheckResult::Differed)
            line += "; set " + check.expected + ", heard " + (check.heard.empty() ? "no " + check.what : check.heard);
        else if (check.result == CheckResult::Extra)
            line += "; heard, not in the list: " + check.heard;
        else if (check.result == CheckResult::Unconfirmed)
            line += "; not confirmed: " + check.expected;
    }
    for (const std::string& note : verdict.notes)
        line += "; " + note;
    return line;
}

std::vector<std::string> DescribeVerdict(const Verdict& verdict)
{
    std::vector<std::string> lines{VerdictSummary(verdict)};
    for (const Check& check : verdict.checks) {
        switch (check.result) {
        case CheckResult::Matched:
            lines.push_back("  matched: " + check.expected + (check.byPattern ? " (proven by a pattern)" : ""));
            break;
        case CheckResult::Differed:
            lines.push_back("  differs: set " + check.expected + "; heard "
                            + (check.heard.empty() ? "no " + check.what : check.heard));
            break;
        case CheckResult::NotShown: lines.push_back("  not shown by BlueZ, not checked: " + check.expected); break;
        case CheckResult::Unconfirmed:
            lines.push_back("  not confirmed: " + check.expected
                            + (check.heard.empty() ? ""
                                                   : "; BlueZ shows " + check.heard + ", which it may have kept from an earlier scan"));
            break;
        case CheckResult::Extra: lines.push_back("  heard, not in the list: " + check.heard); break;
        }
    }
    for (const std::string& shown : verdict.shown)
        lines.push_back("  shown, not compared: " + shown);
    for (const std::string& note : verdict.notes)
        lines.push_back("  " + note);
    return lines;
}

std::vector<std::string> DescribeDevice(const HeardDevice& device)
{
    // What BlueZ shows, by what it shows: it tells neither a name's nor a UUID list's type.
    std::vector<std::string> lines{device.address
                                   + (device.name ? "  \"" + *device.name + "\"" + (NameMaybeRemembered(device) ? " (remembered)" : "") : "")
                                   + (device.rssi ? "  RSSI " + std::to_string(*device.rssi) + " dBm" : "")};
    std::vector<Structure> structures;
    if (device.flags && !device.flags->empty() && device.flags->front() != '\0')
        structures.push_back({flagsType, device.flags->substr(0, 1)});
    if (device.txPower)
        structures.push_back({txPowerType, Bytes(1, static_cast<char>(*device.txPower))});
    if (device.appearance)
        structures.push_back({appearanceType, Bytes{static_cast<char>(*device.appearance & 0xFF),
                                                    static_cast<char>(*device.appearance >> 8)}});
    for (const auto& [uuid, data] : device.serviceData.value_or(std::map<std::string, Bytes>())) {
        const Bytes bytes = bytesOfUUID(uuid);
        structures.push_back({bytes.size() == 2 ? serviceData16 : serviceData128, bytes + data});
    }
    for (const auto& [company, data] : device.manufacturerData.value_or(std::map<std::uint16_t, Bytes>())) {
        const Bytes companyBytes{static_cast<char>(company & 0xFF), static_cast<char>(company >> 8)};
        structures.push_back({manufacturerType, companyBytes + data});
    }
    for (const auto& [type, data] : device.advertisingData.value_or(std::map<std::uint8_t, Bytes>()))
        structures.push_back({type, data});
    if (device.uuids && !device.uuids->empty()) {
        const std::string words = uuidListWords(*device.uuids);
        lines.push_back("  Service UUIDs: " + words.substr(words.find("UUIDs ") + 6));
    }
    for (const Structure& structure : structures)
        lines.push_back("  " + structureWords(structure.type, structure.data));
    return lines;
}

} // namespace qz::air
