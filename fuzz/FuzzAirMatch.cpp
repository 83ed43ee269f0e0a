#include "AirMatch.h"
#include "FuzzInput.h"

#include <algorithm>

using namespace qz::air;
using namespace qz::fuzz;

namespace {

// The parts of the input, separated by NUL bytes: what the module advertises (one line
// each: its kind, address, name, advertising package, scan response, beacon UUID, major
// and minor), then what the device was heard with: name, manufacturer data, service data,
// flags, one structure BlueZ does not parse (its type first), its address.
std::vector<std::string> parts(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> split;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1)
        split.push_back(bytes.substr(start, end - start));
    split.push_back(bytes.substr(start));
    split.resize(std::max<std::size_t>(split.size(), 7));
    return split;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> split;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        split.push_back(text.substr(start, end - start));
    split.push_back(text.substr(start));
    return split;
}

qz::Advertised advertisedOf(const std::string& text)
{
    std::vector<std::string> line = lines(text);
    line.resize(std::max<std::size_t>(line.size(), 8));
    qz::Advertised advertised;
    advertised.kind = line[0] == "b" ? qz::Advertised::Kind::Broadcast
        : line[0] == "i"             ? qz::Advertised::Kind::Beacon
                                     : qz::Advertised::Kind::Nothing;
    advertised.address = line[1];
    advertised.name = line[2];
    advertised.advertPackage = line[3];
    advertised.scanResponse = line[4];
    advertised.beaconUUID = line[5];
    advertised.major = static_cast<std::uint16_t>(line[6].size());
    advertised.minor = static_cast<std::uint16_t>(line[7].size());
    advertised.restartNeeded = line[0].size() > 1;
    return advertised;
}

} // namespace

// Whatever a list holds and whatever is heard, the matcher answers, and its verdict agrees
// with its own checks.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> part = parts(data, size);
    const Expectation expectation = ExpectedOnAir(advertisedOf(part[0]));
    HeardDevice device;
    device.address = expectation.address.value_or(part[6]);
    if (!part[1].empty()) {
        device.name = part[1];
        device.nameMaybeCached = part[1].size() % 2 == 0;
    }
    if (part[2].size() >= 2)
        device.manufacturerData = std::map<std::uint16_t, Bytes>{
            {static_cast<std::uint16_t>(static_cast<unsigned char>(part[2][0]) * 256 + static_cast<unsigned char>(part[2][1])),
             part[2].substr(2)}};
    if (!part[3].empty())
        device.serviceData = std::map<std::string, Bytes>{{"0000feaa-0000-1000-8000-00805f9b34fb", part[3]}};
    if (!part[4].empty())
        device.flags = part[4];
    if (!part[5].empty())
        device.advertisingData = std::map<std::uint8_t, Bytes>{{static_cast<std::uint8_t>(part[5][0]), part[5].substr(1)}};

    if (part[4].size() % 2 == 1)
        device.found = ProofPatterns(expectation);
    const Verdict verdict = Compare(expectation, device);
    const bool differs = std::any_of(verdict.checks.begin(), verdict.checks.end(), [](const Check& check) {
        return check.result == CheckResult::Differed || check.result == CheckResult::Extra;
    });
    require((verdict.outcome == Outcome::HeardOtherwise) == differs, "heard otherwise exactly when a check differs");
    require(verdict.checks.size() >= expectation.items.size(), "one check per thing to hear");
    require(std::all_of(verdict.checks.begin() + static_cast<std::ptrdiff_t>(expectation.items.size()),
                        verdict.checks.end(), [](const Check& check) { return check.result == CheckResult::Extra; }),
            "after them, only what was heard besides");
    const Verdict proven = Compare(expectation, device, Proof::Final);
    // A structure without data has no pattern: nothing can prove a name BlueZ shows for it.
    const bool everyStructureHasData = std::none_of(expectation.items.begin(), expectation.items.end(), [](const Expected& item) {
        return item.kind == Expected::Kind::Structure && item.data.empty();
    });
    require(device.found.empty() || !everyStructureHasData
                || std::none_of(proven.checks.begin(), proven.checks.end(),
                                [](const Check& check) { return check.result == CheckResult::Unconfirmed; }),
            "what the monitor found confirms all it was asked about");
    Listening listening(expectation);
    const std::optional<Verdict> ended = listening.heard(device);
    require(!ended || (IsCandidate(expectation, device) && ended->outcome == Outcome::HeardAsSet),
            "listening ends only at a candidate heard as set");
    require(DescribeVerdict(listening.timedOut()).size() >= 1, "a verdict has a summary");
    require(!VerdictLine(verdict).empty(), "a record line says something");
    require(DescribeDevice(device).size() >= 1, "a device is described");
    return 0;
}
