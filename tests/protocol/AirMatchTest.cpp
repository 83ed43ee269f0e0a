// What a module must be heard advertising after each page's list, and how a device heard
// compares with it, structure by structure.

#include "AirMatch.h"

#include "BeaconList.h"
#include "BroadcastList.h"
#include "StudyList.h"

#include <gtest/gtest.h>

namespace {

using namespace qz::air;

// What a generator says its module advertises.
const qz::Advertised& advertisedBy(const qz::GeneratorResult& result)
{
    return std::get<qz::CommandList>(result).advertised;
}

Bytes bytes(std::initializer_list<int> values)
{
    Bytes made;
    for (int value : values)
        made += static_cast<char>(value);
    return made;
}

// A broadcast list whose advertising package is the one structure given.
Expectation expectingOne(const std::string& structureDigits)
{
    return ExpectedOnAir(advertisedBy(qz::BuildBroadcastList("Lamp", "000E0B123456", structureDigits, "", true)));
}

HeardDevice atLampAddress()
{
    HeardDevice device;
    device.address = "00:0e:0b:12:34:56"; // BlueZ writes upper case; either is the same device
    return device;
}

TEST(AirMatch, EachListSaysWhatItsModuleMustAdvertise)
{
    const Expectation beacon = ExpectedOnAir(advertisedBy(qz::BuildBeaconList("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0",
                                                                            "00FE", "000A")));
    EXPECT_EQ(beacon.kind, Expectation::Kind::Beacon);
    EXPECT_TRUE(beacon.restartNeeded); // the iBeacon list ends without AT+RESET
    EXPECT_EQ(DefaultListeningSeconds(beacon), 30);
    ASSERT_EQ(beacon.items.size(), 3u);
    EXPECT_EQ(beacon.items[0].data, bytes({0xE2, 0xC5, 0x6D, 0xB5, 0xDF, 0xFB, 0x48, 0xD2, 0xB0, 0x60, 0xD0, 0xF5,
                                           0xA7, 0x10, 0x96, 0xE0}));
    EXPECT_EQ(beacon.items[1].data, bytes({0x00, 0xFE}));
    EXPECT_EQ(beacon.items[2].data, bytes({0x00, 0x0A}));

    // The scan response repeats one structure of the advertising package and adds one.
    const Expectation broadcast = ExpectedOnAir(
        advertisedBy(qz::BuildBroadcastList("Lamp", "000E0B12345A", "0x0201060303F0FF", "0303F0FF03190001", false)));
    EXPECT_EQ(broadcast.kind, Expectation::Kind::Broadcast);
    EXPECT_FALSE(broadcast.restartNeeded);
    EXPECT_EQ(DefaultListeningSeconds(broadcast), 10);
    EXPECT_EQ(broadcast.address, "00:0E:0B:12:34:5A");
    std::vector<std::pair<int, Bytes>> structures;
    for (const Expected& item : broadcast.items)
        structures.emplace_back(item.type, item.data);
    EXPECT_EQ(structures, (std::vector<std::pair<int, Bytes>>{{0, "00:0E:0B:12:34:5A"},
                                                              {0x01, bytes({0x06})},
                                                              {0x03, bytes({0xF0, 0xFF})},
                                                              {0x19, bytes({0x00, 0x01})}}));

    const Expectation study =
        ExpectedOnAir(advertisedBy(qz::BuildStudyList(0, "FFE1", "FFE2")));
    EXPECT_EQ(study.kind, Expectation::Kind::Silent);
    EXPECT_EQ(Listening(study).timedOut().outcome, Outcome::Silent);
}

TEST(AirMatch, EachStructureIsComparedWithWhatBlueZShowsOfIt)
{
    struct Case {
        const char* structure;
        void (*hear)(HeardDevice&);
        CheckResult result;
        std::string heard;
    };
    const Case cases[] = {
        {"020106", [](HeardDevice&) {}, CheckResult::NotShown, ""},
        {"020106", [](HeardDevice& d) { d.flags = bytes({0x06}); }, CheckResult::Matched,
         "Flags: LE General Discoverable Mode, BR/EDR Not Supported"},
        {"020106", [](HeardDevice& d) { d.flags = bytes({0x05}); }, CheckResult::Differed,
         "Flags: LE Limited Discoverable Mode, BR/EDR Not Supported"},
        {"05094C616D70", [](HeardDevice& d) { d.name = "Lamp"; }, CheckResult::Matched, "Complete Local Name: Lamp"},
        {"05084C616D70", [](HeardDevice& d) { d.name = "Lamb"; }, CheckResult::Differed, "Shortened Local Name: Lamb"},
        {"05094C616D70", [](HeardDevice&) {}, CheckResult::Differed, ""},
        {"020AF4", [](HeardDevice& d) { d.txPower = -12; }, CheckResult::Matched, "Tx Power Level: tx power -12 dBm"},
        {"020AF4", [](HeardDevice& d) { d.txPower = -4; }, CheckResult::Differed, "Tx Power Level: tx power -4 dBm"},
        {"0503F0FF0A18", [](HeardDevice& d) { d.uuids = {{"0000180a-0000-1000-8000-00805f9b34fb", "0000FFF0-0000-1000-8000-00805F9B34FB"}}; },
         CheckResult::Matched, "service UUIDs 180A, FFF0"},
        {"0503F0FF0A18", [](HeardDevice& d) { d.uuids = {{"0000fff0-0000-1000-8000-00805f9b34fb"}}; },
         CheckResult::Differed, "service UUIDs FFF0"},
        {"110700112233445566778899AABBCCDDEEFF",
         [](HeardDevice& d) { d.uuids = {{"ffeeddcc-bbaa-9988-7766-554433221100"}}; }, CheckResult::Matched,
         "service UUIDs ffeeddcc-bbaa-9988-7766-554433221100"},
        {"0516F0FFAABB", [](HeardDevice& d) { d.serviceData = {{{"0000fff0-0000-1000-8000-00805f9b34fb", bytes({0xAA, 0xBB})}}}; },
         CheckResult::Matched, "Service Data - 16-bit UUID: uuid FFF0, data AABB"},
        {"0516F0FFAABB", [](HeardDevice& d) { d.serviceData = {{{"0000fff0-0000-1000-8000-00805f9b34fb", bytes({0xAA, 0xBC})}}}; },
         CheckResult::Differed, "Service Data - 16-bit UUID: uuid FFF0, data AABC"},
        {"0620F0FF0000AA", [](HeardDevice& d) { d.serviceData = {{{"0000fff0-0000-1000-8000-00805f9b34fb", bytes({0xAA})}}}; },
         CheckResult::Matched, "Service Data - 32-bit UUID: uuid 0000FFF0, data AA"},
        {"05FF59000102", [](HeardDevice& d) { d.manufacturerData = {{{0x0059, bytes({0x01, 0x02})}}}; },
         CheckResult::Matched, "Manufacturer Specific Data: company 0x0059 (Nordic Semiconductor ASA), data 0102"},
        {"05FF59000102", [](HeardDevice& d) { d.manufacturerData = {{{0x0059, bytes({0x01})}}}; },
         CheckResult::Differed, "Manufacturer Specific Data: company 0x0059 (Nordic Semiconductor ASA), data 01"},
        {"02FF59", [](HeardDevice&) {}, CheckResult::NotShown, ""}, // no whole company to look up
        // Service data too short for its UUID: BlueZ drops it, whatever else it shows.
        {"0316F0FF", [](HeardDevice& d) { d.serviceData = {{{"0000fff0-0000-1000-8000-00805f9b34fb", ""}}}; },
         CheckResult::Matched, "Service Data - 16-bit UUID: uuid FFF0"},
        {"0216F0", [](HeardDevice& d) { d.serviceData = std::map<std::string, Bytes>{}; }, CheckResult::NotShown, ""},
        {"0420F0FF00", [](HeardDevice& d) { d.serviceData = std::map<std::string, Bytes>{}; }, CheckResult::NotShown, ""},
        {"0821F0FF000000AA00", [](HeardDevice& d) { d.serviceData = std::map<std::string, Bytes>{}; }, CheckResult::NotShown, ""},
        // BlueZ shows the appearance as a property of its own, never in AdvertisingData.
        {"03190001", [](HeardDevice&) {}, CheckResult::Differed, ""},
        {"03190001", [](HeardDevice& d) { d.appearance = 0x0100; }, CheckResult::Matched,
         "Appearance: appearance 0x0100, Clock, subcategory 0"},
        {"03190001", [](HeardDevice& d) { d.appearance = 0x0200; }, CheckResult::Differed,
         "Appearance: appearance 0x0200, Tag, subcategory 0"},
        // Flags 0 is what bluetoothd shows when none were sent.
        {"020106", [](HeardDevice& d) { d.flags = bytes({0x00}); }, CheckResult::Differed, ""},
        // A type BlueZ keeps out of AdvertisingData is not checked, even where AdvertisingData is shown;
        // one it does not parse is compared there.
        {"03120600", [](HeardDevice& d) { d.advertisingData = std::map<std::uint8_t, Bytes>{}; }, CheckResult::NotShown, ""},
        {"042417612E", [](HeardDevice& d) { d.advertisingData = {{{0x24, bytes({0x17, 0x61, 0x2E})}}}; },
         CheckResult::Matched, "URI: https:a."},
        {"03130102", [](HeardDevice& d) { d.advertisingData = {{{0x13, bytes({0x01, 0x02})}}}; }, CheckResult::Matched,
         "Unknown type 0x13: data 0102"}, // between two types BlueZ keeps to itself
    };
    for (const Case& c : cases) {
        HeardDevice device = atLampAddress();
        c.hear(device);
        const Verdict verdict = Compare(expectingOne(c.structure), device);
        ASSERT_EQ(verdict.checks.size(), 2u) << c.structure << " " << verdict.checks.back().heard;
        EXPECT_EQ(verdict.checks[0].result, CheckResult::Matched) << "the address";
        EXPECT_EQ(verdict.checks[1].result, c.result) << c.structure << " heard " << verdict.checks[1].heard;
        EXPECT_EQ(verdict.checks[1].heard, c.heard) << c.structure;
        EXPECT_EQ(verdict.outcome, c.result == CheckResult::Differed ? Outcome::HeardOtherwise : Outcome::HeardAsSet)
            << c.structure;
    }
}

// An iBeacon heard: Apple's company, 02 15, UUID, major, minor and power.
HeardDevice beacon(const std::string& address, int minor, int power = 0xC5)
{
    HeardDevice device;
    device.address = address;
    device.manufacturerData = {{{0x004C, bytes({0x02, 0x15, 0xE2, 0xC5, 0x6D, 0xB5, 0xDF, 0xFB, 0x48, 0xD2, 0xB0, 0x60,
                                                0xD0, 0xF5, 0xA7, 0x10, 0x96, 0xE0, 0x00, 0xFE, 0x00, minor, power})}}};
    return device;
}

Expectation beaconExpectation()
{
    return ExpectedOnAir(advertisedBy(qz::BuildBeaconList("E2C56DB5DFFB48D2B060D0F5A71096E0", "00FE", "000A")));
}

TEST(AirMatch, ListeningEndsAtTheBeaconWithEveryValueAndOtherwiseTellsTheClosest)
{
    Listening listening(beaconExpectation());
    HeardDevice notABeacon = beacon("AA:00:00:00:00:01", 0x0A);
    (*notABeacon.manufacturerData)[0x004C][1] = 0x16; // Apple's, but not an iBeacon
    EXPECT_FALSE(listening.heard(notABeacon));
    HeardDevice longer = beacon("AA:00:00:00:00:02", 0x0A);
    (*longer.manufacturerData)[0x004C].push_back('\0'); // a byte past what its length says
    EXPECT_FALSE(listening.heard(longer));
    EXPECT_EQ(listening.timedOut().outcome, Outcome::NotHeard);
    EXPECT_EQ(VerdictSummary(listening.timedOut()),
              "not heard: no iBeacon was heard; the module may need a restart: power it off and on, then check again");

    // A beacon with the module's UUID and major and another minor is a neighbour's: the
    // module was not heard.
    EXPECT_FALSE(listening.heard(beacon("AA:00:00:00:00:03", 0xFE)));
    EXPECT_EQ(DescribeVerdict(listening.timedOut()),
              (std::vector<std::string>{"not heard: no iBeacon was heard; the module may need a restart: power it off "
                                        "and on, then check again",
                                        "  another beacon with this UUID and major was heard: minor 254 at "
                                        "AA:00:00:00:00:03"}));
    HeardDevice farther = beacon("AA:00:00:00:00:02", 0x0B);
    (*farther.manufacturerData)[0x004C][18] = 0x01; // its major differs as well
    EXPECT_FALSE(listening.heard(farther));
    EXPECT_EQ(VerdictLine(listening.timedOut()), "heard otherwise: AA:00:00:00:00:02, 2 differences; set major 254 "
                                                 "(0x00FE), heard major 510 (0x01FE); set minor 10 (0x000A), heard "
                                                 "minor 11 (0x000B)");
    HeardDevice farthest = farther;
    farthest.address = "AA:00:00:00:00:04";
    (*farthest.manufacturerData)[0x004C][2] = 0x00; // and its UUID too
    EXPECT_FALSE(listening.heard(farthest));
    EXPECT_EQ(listening.timedOut().address, "AA:00:00:00:00:02"); // the one that matched more stays the closest
    EXPECT_EQ(listening.stopped().outcome, Outcome::Stopped);

    HeardDevice changed = beacon("AA:00:00:00:00:02", 0x0A, 0xBF);
    changed.rssi = -70;
    changed.name = "Tag";
    const std::optional<Verdict> verdict = listening.heard(changed);
    ASSERT_TRUE(verdict);
    EXPECT_EQ(VerdictSummary(*verdict), "heard as set: AA:00:00:00:00:02 (Tag), RSSI -70 dBm");
    EXPECT_EQ(verdict->shown, std::vector<std::string>{"measured power -65 dBm"});
}

// BlueZ keeps one name: the complete one wins, trailing NULs go, and a device it meets
// anew may show the name it kept from an earlier scan, which only bluetoothd's monitor can
// prove was sent: a name heard changing is proof enough.
TEST(AirMatch, ANameIsTakenOnlyForWhatBlueZOrTheMonitorCanProve)
{
    struct Case {
        const char* package;
        const char* name; // BlueZ's Name; nullptr: none
        bool maybeCached;
        Proof proof;
        bool found; // the monitor found every pattern it was asked for
        std::vector<CheckResult> results; // of the name structures, in the package's order
    };
    const Case cases[] = {
        {"05094C616D70", "Lamp", false, Proof::None, false, {CheckResult::Matched}},
        {"05094C616D70", "Lamp", true, Proof::None, false, {CheckResult::Unconfirmed}},
        {"05094C616D70", "Lamp", true, Proof::Awaited, false, {CheckResult::Unconfirmed}},
        {"05094C616D70", "Lamp", true, Proof::Final, false, {CheckResult::Unconfirmed}}, // nothing heard by it
        {"05094C616D70", "Lamp", true, Proof::Final, true, {CheckResult::Matched}},
        {"05094C616D70", "Lamb", true, Proof::Final, true, {CheckResult::Differed}}, // a complete name sent replaces it
        {"05094C616D70", "Lamp-2", false, Proof::Final, true, {CheckResult::Differed}}, // the pattern is but a prefix
        {"05084C616D70", "Lamb", true, Proof::None, false, {CheckResult::Unconfirmed}}, // a shortened one does not
        {"05084C616D70", "Lamb", false, Proof::None, false, {CheckResult::Differed}},
        {"0408566C610A094C616D702D4C6F6E67", "Lamp-Long", false, Proof::None, false,
         {CheckResult::NotShown, CheckResult::Matched}},
        {"0408566C610A094C616D702D4C6F6E67", "Lamp-Long", false, Proof::Final, false,
         {CheckResult::NotShown, CheckResult::Matched}},
        {"0408566C610A094C616D702D4C6F6E67", "Lamp-Long", true, Proof::Final, true,
         {CheckResult::Matched, CheckResult::Matched}},
        {"06094C616D7000", "Lamp", true, Proof::Final, true, {CheckResult::Matched}},
        {"05094C616D70", nullptr, false, Proof::None, false, {CheckResult::Differed}},
    };
    for (const Case& c : cases) {
        HeardDevice device = atLampAddress();
        if (c.name != nullptr)
            device.name = c.name;
        device.nameMaybeCached = c.maybeCached;
        const Expectation expectation = expectingOne(c.package);
        if (c.found)
            device.found = ProofPatterns(expectation);
        const Verdict verdict = Compare(expectation, device, c.proof);
        std::vector<CheckResult> results;
        for (std::size_t at = 1; at < verdict.checks.size(); ++at)
            results.push_back(verdict.checks[at].result);
        EXPECT_EQ(results, c.results) << c.package << " heard " << (c.name ? c.name : "none")
                                      << (c.maybeCached ? " cached" : "") << ", proof " << static_cast<int>(c.proof);
    }
}

// The monitor is asked only about what BlueZ cannot show as heard; the words say what
// stays unproven without it, and why.
TEST(AirMatch, TheMonitorIsAskedForWhatOnlyItCanProve)
{
    // Flags, a name, a type BlueZ keeps to itself (LE role), manufacturer data; in the
    // scan response another LE role, past the advertisement's 31 bytes.
    const Expectation expectation = ExpectedOnAir(advertisedBy(qz::BuildBroadcastList(
        "Lamp", "000E0B123456", "02010608094C616D702D3031021C0005FF59000102",
        "0E2601020304050607080900010203021C01", false)));
    // Then every other structure, to tell which package the monitor heard.
    EXPECT_EQ(ProofPatterns(expectation),
              (std::vector<Pattern>{{0x09, "Lamp-01"},
                                    {0x1C, bytes({0x00})},
                                    {0x1C, bytes({0x01})},
                                    {0x01, bytes({0x06})},
                                    {0xFF, bytes({0x59, 0x00, 0x01, 0x02})},
                                    {0x26, bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x00, 0x01,
                                                  0x02, 0x03})}}));
    EXPECT_TRUE(ProofPatterns(expectingOne("020106")).empty()); // nothing to prove, nothing to ask
    HeardDevice device = atLampAddress();
    device.flags = bytes({0x06});
    device.name = "Lamp-01";
    device.nameMaybeCached = true;
    device.manufacturerData = {{{0x0059, bytes({0x01, 0x02})}}};
    const std::vector<std::string> lines = DescribeVerdict(Compare(expectation, device, Proof::None, "no -E"));
    EXPECT_EQ(lines.front(), "heard, not confirmed: 00:0e:0b:12:34:56 (Lamp-01)");
    EXPECT_EQ(lines.back(),
              "  not confirmed without bluetoothd's advertisement monitor: Complete Local Name, LE Role, LE Role; no -E");
    EXPECT_EQ(lines[3], "  not confirmed: Complete Local Name: Lamp-01; BlueZ shows Complete Local Name: Lamp-01, "
                        "which it may have kept from an earlier scan");
    device.found = ProofPatterns(expectation);
    const Verdict proven = Compare(expectation, device, Proof::Final);
    EXPECT_EQ(proven.outcome, Outcome::HeardAsSet);
    EXPECT_EQ(DescribeVerdict(proven)[3], "  matched: Complete Local Name: Lamp-01 (proven by a pattern)");
}

// With the monitor asked, listening waits for it; without, a remembered name ends it unconfirmed.
TEST(AirMatch, ListeningWaitsForTheMonitorWhileItCanProve)
{
    const Expectation expectation = expectingOne("05094C616D70");
    HeardDevice remembered = atLampAddress();
    remembered.name = "Lamp";
    remembered.nameMaybeCached = true;

    Listening refused(expectation);
    EXPECT_FALSE(refused.heard(remembered));
    const std::optional<Verdict> told = refused.patternsUnavailable("bluetoothd refused the monitor");
    ASSERT_TRUE(told);
    EXPECT_EQ(OutcomeName(told->outcome), "heard, not confirmed");
    EXPECT_EQ(VerdictLine(*told), "heard, not confirmed: 00:0e:0b:12:34:56 (Lamp); not confirmed: Complete Local Name: "
                                  "Lamp; not confirmed without bluetoothd's advertisement monitor: Complete Local "
                                  "Name; bluetoothd refused the monitor");

    Listening watched(expectation);
    watched.patternsActive();
    EXPECT_FALSE(watched.heard(remembered));
    EXPECT_EQ(VerdictLine(watched.timedOut()), "heard, not confirmed: 00:0e:0b:12:34:56 (Lamp); not confirmed: "
                                               "Complete Local Name: Lamp; not confirmed: "
                                               "bluetoothd's advertisement monitor did not hear the package that "
                                               "holds Complete Local Name");
    HeardDevice proven = remembered;
    proven.found = ProofPatterns(expectation);
    const std::optional<Verdict> heard = watched.heard(proven);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->outcome, Outcome::HeardAsSet);
}

// bluetoothd's monitor may not hear a package at all: what it never found differs only
// where it found something sent in no other package than that structure's.
TEST(AirMatch, WhatTheMonitorNeverFoundDiffersOnlyInAPackageItHeard)
{
    const Pattern flags{0x01, bytes({0x06})};
    const Pattern role{0x1C, bytes({0x00})};
    const Pattern name{0x09, "Lamp-01"};
    struct Case {
        const char* advert;
        const char* response;
        std::vector<Pattern> found;
        CheckResult roleResult;
        CheckResult nameResult;
    };
    const Case cases[] = {
        // Flags and the role in the advertisement, the name in the scan response.
        {"020106021C00", "08094C616D702D3031", {}, CheckResult::NotShown, CheckResult::Unconfirmed},
        {"020106021C00", "08094C616D702D3031", {flags}, CheckResult::Differed, CheckResult::Unconfirmed},
        {"020106021C00", "08094C616D702D3031", {name}, CheckResult::NotShown, CheckResult::Matched},
        {"020106021C00", "08094C616D702D3031", {flags, name}, CheckResult::Differed, CheckResult::Matched},
        {"020106021C00", "08094C616D702D3031", {flags, role, name}, CheckResult::Matched, CheckResult::Matched},
        // Flags in both: found, they tell neither package apart.
        {"020106021C00", "02010608094C616D702D3031", {flags}, CheckResult::NotShown, CheckResult::Unconfirmed},
        // The role in both: whichever package was heard held it.
        {"020106021C00", "021C0008094C616D702D3031", {name}, CheckResult::Differed, CheckResult::Matched},
    };
    for (const Case& c : cases) {
        const Expectation expectation =
            ExpectedOnAir(advertisedBy(qz::BuildBroadcastList("Lamp", "000E0B123456", c.advert, c.response, false)));
        HeardDevice device = atLampAddress();
        device.flags = bytes({0x06});
        device.name = "Lamp-01";
        device.nameMaybeCached = true;
        device.found = c.found;
        const Verdict verdict = Compare(expectation, device, Proof::Final);
        const auto resultOf = [&verdict](const std::string& what) {
            const auto check = std::find_if(verdict.checks.begin(), verdict.checks.end(),
                                            [&what](const Check& each) { return each.what == what; });
            return check == verdict.checks.end() ? CheckResult::Extra : check->result;
        };
        EXPECT_EQ(resultOf("LE Role"), c.roleResult) << c.advert << " / " << c.response << ", " << c.found.size();
        EXPECT_EQ(resultOf("Complete Local Name"), c.nameResult) << c.advert << " / " << c.response << ", "
                                                                 << c.found.size();
    }
}

// Whatever is heard that the package does not hold is a difference, but for the module's
// own name and a name BlueZ may have kept.
TEST(AirMatch, WhatThePackageDoesNotHoldIsADifference)
{
    HeardDevice device = atLampAddress();
    device.flags = bytes({0x06});
    device.manufacturerData = {{{0x0059, bytes({0x01})}}};
    device.serviceData = {{{"0000feaa-0000-1000-8000-00805f9b34fb", bytes({0x00})}}};
    device.uuids = {{"0000180f-0000-1000-8000-00805f9b34fb"}};
    device.txPower = -4;
    device.appearance = 0x0200;
    device.name = "OldName";
    device.advertisingData = {{{0x30, bytes({0x01})}}};
    const Verdict verdict = Compare(expectingOne("020106"), device);
    std::vector<std::string> extras;
    for (const Check& check : verdict.checks) {
        if (check.result == CheckResult::Extra)
            extras.push_back(check.heard);
    }
    EXPECT_EQ(extras, (std::vector<std::string>{
                          "Manufacturer Specific Data: company 0x0059 (Nordic Semiconductor ASA), data 01",
                          "Service Data - 16-bit UUID: uuid FEAA, Eddystone frame type 0x00",
                          "service UUIDs 180F", "Tx Power Level: tx power -4 dBm",
                          "Appearance: appearance 0x0200, Tag, subcategory 0", "name \"OldName\"",
                          "Broadcast_Name: \\x01"}));
    EXPECT_EQ(VerdictSummary(verdict), "heard otherwise: 00:0e:0b:12:34:56 (OldName), 7 differences");

    // A 32-bit UUID is written whole by BlueZ, and is the one listed all the same.
    HeardDevice listed = atLampAddress();
    listed.uuids = {{"0001FFF0-0000-1000-8000-00805f9b34fb"}};
    EXPECT_EQ(Compare(expectingOne("0505F0FF0100"), listed).outcome, Outcome::HeardAsSet);

    HeardDevice quiet = atLampAddress();
    quiet.name = "Lamp"; // the page's name field: the module's own
    EXPECT_EQ(Compare(expectingOne("020106"), quiet).checks.size(), 2u);
    quiet.name = "Other";
    quiet.nameMaybeCached = true;
    EXPECT_EQ(Compare(expectingOne("020106"), quiet).checks.size(), 2u);
}

TEST(AirMatch, AdviceToRestartOnlyWhenTheListHasNoReset)
{
    EXPECT_EQ(RestartAdvice(beaconExpectation(), 30),
              "the list has no AT+RESET, and the module applies some settings only after a restart: power the module "
              "off and on now; listening for 30 s");
    const Expectation broadcast = expectingOne("020106");
    EXPECT_EQ(RestartAdvice(broadcast, 10), "");
    EXPECT_EQ(VerdictSummary(Listening(broadcast).timedOut()), "not heard: no device at 00:0E:0B:12:34:56 was heard");
}

TEST(AirMatch, ALaterAdvertisementReplacesOnlyWhatItCarries)
{
    HeardDevice device = beacon("AA:00:00:00:00:01", 0x0A);
    device.name = "Old";
    HeardDevice update;
    update.name = "New";
    update.rssi = -40;
    Merge(device, update);
    EXPECT_EQ(device.address, "AA:00:00:00:00:01");
    EXPECT_EQ(device.name, "New");
    EXPECT_EQ(device.rssi, -40);
    EXPECT_TRUE(device.manufacturerData);
    update.address = "AA:00:00:00:00:09";
    update.uuids = std::vector<std::string>{};
    update.txPower = 3;
    update.flags = bytes({0x06});
    update.serviceData = std::map<std::string, Bytes>{};
    update.advertisingData = std::map<std::uint8_t, Bytes>{};
    update.manufacturerData = std::map<std::uint16_t, Bytes>{};
    Merge(device, update);
    EXPECT_EQ(device.address, "AA:00:00:00:00:09");
    EXPECT_TRUE(device.manufacturerData->empty());
    EXPECT_EQ(device.txPower, 3);
    EXPECT_TRUE(device.uuids && device.serviceData && device.advertisingData && device.flags);
}

TEST(AirMatch, AScanDescribesEachDeviceInTheDecodersWords)
{
    HeardDevice device = beacon("AA:00:00:00:00:01", 0x0A);
    device.name = "Tag";
    device.rssi = -50;
    // A 32-bit UUID of the Bluetooth base is written whole: only a 16-bit one is shortened.
    device.uuids = {{"ffeeddcc-bbaa-9988-7766-554433221100", "0001fff0-0000-1000-8000-00805f9b34fb"}};
    device.serviceData = {{{"0000feaa-0000-1000-8000-00805f9b34fb", bytes({0x10, 0x00, 0x03, 0x61})}}};
    device.appearance = 0x0100;
    device.txPower = -4;
    device.flags = bytes({0x00}); // what BlueZ shows when no flags were sent
    // What BlueZ shows, by BlueZ's names: it knows no name's or UUID list's type.
    EXPECT_EQ(DescribeDevice(device),
              (std::vector<std::string>{
                  "AA:00:00:00:00:01  \"Tag\"  RSSI -50 dBm",
                  "  Service UUIDs: ffeeddcc-bbaa-9988-7766-554433221100, 0001fff0-0000-1000-8000-00805f9b34fb",
                  "  Tx Power Level: tx power -4 dBm",
                  "  Appearance: appearance 0x0100, Clock, subcategory 0",
                  "  Service Data - 16-bit UUID: uuid FEAA, Eddystone-URL, tx power at 0 m 0 dBm, url https://a",
                  "  Manufacturer Specific Data: company 0x004C (Apple, Inc.), iBeacon, uuid "
                  "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0, major 254, minor 10, measured power -59 dBm"}));
}

} // namespace
