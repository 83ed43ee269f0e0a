#pragma once

// What a module must be heard advertising once it took a command list, and whether what
// is heard over the air says so. Plain C++: the driver that listens (BlueZ on D-Bus) hands
// in each device as heard and carries out the ending; the words of every check come from
// here, so that the window and qzconfig say the same.

#include "FieldRules.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::air {

using Bytes = std::string; // raw bytes, as they travel

// What bluetoothd's advertisement monitor (bluetoothd -E) looks for in the raw advertisement
// and scan response: a structure of this AD type whose data begins with content. It reports
// a device once what the controller received holds one, whatever BlueZ remembers.
struct Pattern {
    std::uint8_t type = 0;
    Bytes content;
    bool operator==(const Pattern& other) const { return type == other.type && content == other.content; }
};

// One device as heard since listening began. Each property is there only when an
// advertisement received since then carried it: what BlueZ remembered from before does not
// count. A name is the exception: BlueZ gives a device it meets anew the name it kept
// from an earlier scan, so a name that came with the device's first sight may be that.
struct HeardDevice {
    std::string address; // "00:0E:0B:12:34:56"
    std::optional<std::string> name;
    bool nameMaybeCached = false;
    std::vector<Pattern> found; // what bluetoothd's monitor found in what it sent
    std::optional<int> rssi;
    std::optional<int> txPower;
    std::optional<std::map<std::uint16_t, Bytes>> manufacturerData; // by company
    std::optional<std::map<std::string, Bytes>> serviceData;        // by UUID, as BlueZ writes it
    std::optional<std::vector<std::string>> uuids;                  // as BlueZ writes them
    std::optional<Bytes> flags;                                     // where bluetoothd shows them; 0: none sent
    std::optional<std::uint16_t> appearance;
    std::optional<std::map<std::uint8_t, Bytes>> advertisingData;   // the structures BlueZ does not parse
};

// A later advertisement of the same device: what it carries replaces what was heard, and
// what the monitor found adds to what it found before.
void Merge(HeardDevice& device, const HeardDevice& update);

// Whether the name shown may be one BlueZ kept from an earlier scan: neither heard changing
// nor found in the advertisement by a pattern.
bool NameMaybeRemembered(const HeardDevice& device);

// One thing the module must be heard with.
struct Expected {
    enum class Kind { Address, Structure, BeaconUUID, BeaconMajor, BeaconMinor };
    // The packages a structure is sent in.
    static constexpr std::uint8_t InAdvertisement = 1;
    static constexpr std::uint8_t InScanResponse = 2;
    Kind kind;
    std::uint8_t type = 0; // of a structure
    Bytes data;            // the structure's data, or the beacon value's bytes
    std::uint8_t packages = 0; // of a structure: InAdvertisement, InScanResponse or both
};

struct Expectation {
    enum class Kind { Beacon, Broadcast, Silent };
    Kind kind = Kind::Silent;
    std::vector<Expected> items;
    // The list ends without AT+RESET: some settings take effect only after a restart.
    bool restartNeeded = false;
    std::optional<std::string> address; // "00:0E:0B:12:34:56", when the list sets it
    std::optional<std::string> pageName; // the module's own name, which it may advertise besides
};

// Where bluetoothd puts each advertising structure it hears: a Device1 property of its
// own, AdvertisingData for the types it does not parse, or nowhere it shows.
enum class ShownAs { Flags, UUIDs, Name, TxPower, Appearance, ServiceData, ManufacturerData, AdvertisingData, Nowhere };
ShownAs WhereBlueZShows(std::uint8_t type);

// What the module that took a list must advertise, as the list's generator tells it.
Expectation ExpectedOnAir(const Advertised& advertised);

// The patterns that prove what BlueZ cannot show as heard now: the module's name, which it
// may show from memory, and the structures it keeps to itself; then, where there are such,
// one for each other structure, so that what the monitor finds tells which of the module's
// packages it heard. One per structure, in the order of the expectation.
std::vector<Pattern> ProofPatterns(const Expectation& expectation);
// The patterns that prove a name shown was heard now, as a complete or a shortened name.
std::vector<Pattern> NamePatterns(const std::string& name);

// How far bluetoothd's advertisement monitor can prove what BlueZ cannot show.
enum class Proof {
    None,    // no monitor: a remembered name stays unconfirmed, the rest not checked
    Awaited, // the monitor listens: what it has not found yet may still come
    Final,   // it listened all along: what it never found in a package it heard was not sent
};

// Unconfirmed: what BlueZ shows may be what it kept from before, and nothing proved it.
// Extra: heard, and in neither package: a difference too.
enum class CheckResult { Matched, Differed, NotShown, Unconfirmed, Extra };

struct Check {
    CheckResult result;
    std::string what;     // "major", "Complete Local Name"
    std::string expected; // in the decoder's words
    std::string heard;    // likewise; empty when nothing was heard for it
    bool byPattern = false; // matched by what bluetoothd's monitor found
};

enum class Outcome { HeardAsSet, HeardOtherwise, HeardNotConfirmed, NotHeard, Silent, Stopped };

// What would confirm a name BlueZ may show from memory, where bluetoothd runs without -E.
inline constexpr std::string_view MonitorAdvice =
    "bluetoothd -E lets qzconfig check the name in the advertisement itself: see README";

struct Verdict {
    Outcome outcome = Outcome::NotHeard;
    std::string address; // of the device compared
    std::optional<std::string> name;
    std::optional<int> rssi;
    std::vector<Check> checks;
    std::vector<std::string> shown; // heard and reported, not compared (an iBeacon's power)
    std::vector<std::string> notes; // what else was heard that bears on it, in words
    bool restartNeeded = false;
};

// Compares one device with what must be heard: HeardAsSet, HeardOtherwise, or
// HeardNotConfirmed when nothing differs but something shown may be from memory (or, while
// the proof is awaited, the monitor has not found it yet). why: why there is no monitor,
// and what would give one, for the note that names what it would have proved.
Verdict Compare(const Expectation& expectation, const HeardDevice& device, Proof proof = Proof::None,
                const std::string& why = std::string(MonitorAdvice));

// Could this device be the module? An iBeacon for a beacon list, the set address for a
// broadcast list: the device whose differences are told when none matches.
bool IsCandidate(const Expectation& expectation, const HeardDevice& device);

// The listening itself: every device heard is handed in, merged with what it carried
// before; the first that matches in full ends it. When the time is up, the candidate that
// matched most is told, or that nothing was heard. While the proof patterns are asked for,
// what they would prove is awaited; without them, a module heard as set but for a name
// that may be remembered ends it too, not confirmed.
class Listening {
public:
    explicit Listening(Expectation expectation);

    // A verdict when this device, as heard so far, is the module as set up.
    std::optional<Verdict> heard(const HeardDevice& device);
    // bluetoothd's monitor looks for the proof patterns now.
    void patternsActive();
    // It cannot (why, in words, with what would help): the module heard may be told now.
    std::optional<Verdict> patternsUnavailable(std::string why);
    Verdict timedOut() const;
    // Stopped by the user before the module was heard as set: no finding about it.
    Verdict stopped() const;
    const Expectation& expectation() const { return expectation_; }

private:
    std::optional<Verdict> decide(const Verdict& verdict) const;

    enum class Patterns { Asked, Active, Unavailable };
    Expectation expectation_;
    Patterns patterns_ = Patterns::Asked;
    std::string unavailableWhy_{MonitorAdvice};
    std::optional<HeardDevice> closest_;
    std::size_t closestMatches_ = 0;
    std::map<std::string, std::string> neighbours_; // beacons like the module's but another's, by address
};

// The seconds to listen when none are given: longer when the module must first be restarted
// by hand.
int DefaultListeningSeconds(const Expectation& expectation);

// "power the module off and on now; listening for 30 s", when the list has no AT+RESET;
// empty otherwise.
std::string RestartAdvice(const Expectation& expectation, int seconds);

// The verdict in words, one line per check, the summary first: "heard as set: ...".
std::vector<std::string> DescribeVerdict(const Verdict& verdict);
// "heard as set", "heard otherwise", "heard, not confirmed", "not heard", "silent" or "stopped".
std::string OutcomeName(Outcome outcome);
// The summary line alone.
std::string VerdictSummary(const Verdict& verdict);
// One line for a record: the summary, then each difference, "set X; heard Y".
std::string VerdictLine(const Verdict& verdict);
// Where a record's message ("8 of 8 commands were taken; heard as set: ...") goes on with
// what listening found, at its "; "; npos when it holds none.
std::size_t VerdictLineIn(std::string_view message);

// What the study page's module does instead of advertising.
inline constexpr std::string_view SilentWords =
    "the study list makes the module a central: it listens and does not advertise, so there is nothing to hear";

// A device as a scan lists it: address, name ("(remembered)" when BlueZ may show it from
// memory), signal, then each structure in the decoder's words.
std::vector<std::string> DescribeDevice(const HeardDevice& device);

// Two upper-case hex digits per byte: "0AFF".
std::string HexOfBytes(std::string_view bytes);

} // namespace qz::air
