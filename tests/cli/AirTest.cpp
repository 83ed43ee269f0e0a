// qzconfig listening over the air, against a fake BlueZ on a private system bus: what it
// hears, what it tells, what it asks of BlueZ, and what a batch makes of a module that is
// not heard as set.

#include "FakeBluez.h"
#include "FakeModule.h"
#include "QzconfigProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using nlohmann::json;
using qz::test::BeaconData;
using qz::test::FakeBluez;
using qz::test::FakeModule;
using qz::test::FakeSystemBus;
using qz::test::OneAdapter;
using qz::test::QzconfigProcess;

const std::string defaultUUID = "0000FFF000001000800000805F9B34FB";
const std::string restartAdvice = "qzconfig: the list has no AT+RESET, and the module applies some settings only "
                                  "after a restart: power the module off and on now; listening for ";

json beacon(const std::string& address, const std::string& minor, int afterMs = 20,
            const std::string& uuid = defaultUUID, const std::string& major = "278B")
{
    return {{"address", address}, {"after_ms", afterMs}, {"rssi", -48}, {"manufacturer", BeaconData(uuid, major, minor)}};
}

// The broadcast page's module as these tests set it up: its name in the advertising package,
// manufacturer data of company 0x0059 and service data of UUID FFF0 in the scan response.
const std::vector<std::string> broadcastArgs = {"broadcast", "--name=Lamp-01", "--address=000E0B123456",
                                                "--advert=02010608094C616D702D3031",
                                                "--scan=05FF590001020516F0FFAABB"};
const std::string serviceUUID = "0000fff0-0000-1000-8000-00805f9b34fb";

json lamp(json changes = json::object())
{
    json advert = {{"address", "00:0E:0B:12:34:56"}, {"after_ms", 20}, {"rssi", -60}, {"name", "Lamp-01"},
                   {"flags", "06"}, {"manufacturer", {{"0x0059", "0102"}}}, {"service_data", {{serviceUUID, "AABB"}}}};
    advert.update(changes);
    return advert;
}

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more)
{
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Points the batch's fixed port at the module now on the bench, as a person swaps modules.
void plug(const std::string& link, const FakeModule& module)
{
    std::filesystem::remove(link + ".next");
    std::filesystem::create_symlink(module.path(), link + ".next");
    std::filesystem::rename(link + ".next", link);
}

// The record's rows, each without its time, and the columns every iBeacon row of a port starts with.
// The record's rows after their time, each module's started row left out.
std::vector<std::string> recordRows(const std::string& record)
{
    std::ifstream file(record);
    std::vector<std::string> rows;
    for (std::string line; std::getline(file, line);) {
        if (line.find(",started,") == std::string::npos)
            rows.push_back(line.substr(line.find(',') + 1));
    }
    return rows;
}

std::string beaconColumns(const std::string& link)
{
    return link + ",,0000FFF0-0000-1000-8000-00805F9B34FB,10123,";
}

TEST(QzconfigAirUsage, ListeningOptionsOutOfPlaceAreUsageErrorsNamingTheirOption)
{
    const std::string silent = "the study list makes the module a central: it listens and does not advertise, so "
                               "there is nothing to hear";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"ibeacon", "--verify"}, "--verify only goes with --port (see qzconfig ibeacon --help)"},
        {{"ibeacon", "--port=/x", "--listen=5"}, "--listen only goes with --verify (see qzconfig ibeacon --help)"},
        {{"ibeacon", "--port=/x", "--adapter=hci0"}, "--adapter only goes with --verify (see qzconfig ibeacon --help)"},
        {{"ibeacon", "--port=/x", "--verify", "--adapter="},
         "--adapter needs the name of an adapter, like hci0 (see qzconfig ibeacon --help)"},
        {{"ibeacon", "--port=/x", "--verify", "--listen=601"},
         "--listen must be a number of seconds from 1 to 600, not '601' (see qzconfig ibeacon --help)"},
        {{"study", "--port=/x", "--verify"}, "--verify: " + silent + " (see qzconfig study --help)"},
        {{"verify"}, "verify: name the page: ibeacon or broadcast (see qzconfig verify --help)"},
        {{"verify", "nosuch"}, "verify: unknown page 'nosuch'; name ibeacon or broadcast (see qzconfig verify --help)"},
        {{"verify", "study"}, "verify study: " + silent + " (see qzconfig verify --help)"},
        {{"verify", "ibeacon", "--timeout=0"},
         "--timeout must be a number of seconds from 1 to 600, not '0' (see qzconfig verify ibeacon --help)"},
        {{"verify", "broadcast", "--timeout=1000"},
         "--timeout must be a number of seconds from 1 to 600, not '1000' (see qzconfig verify broadcast --help)"},
        {{"verify", "ibeacon", "--port=/x"}, "verify ibeacon: unknown option '--port' (see qzconfig verify ibeacon --help)"},
        {{"verify", "ibeacon", "--major=123456"},
         "--major is 6 bytes long; its field holds at most 5, so shorten it (see qzconfig verify ibeacon --help)"},
        {{"scan", "extra"}, "scan: unexpected argument 'extra'; every value follows its option (see qzconfig scan --help)"},
        {{"scan", "--json=1"}, "--json takes no value; write --json alone (see qzconfig scan --help)"},
        {{"scan", "--uuid=1"}, "scan: unknown option '--uuid' (see qzconfig scan --help)"},
    };
    for (const auto& [args, message] : cases) {
        QzconfigProcess run(args);
        EXPECT_EQ(run.wait(), 2);
        EXPECT_EQ(run.output(), "qzconfig: " + message + "\n");
    }
    QzconfigProcess refused({"verify", "ibeacon", "--minor=5"});
    EXPECT_EQ(refused.wait(), 1); // the page's own refusal, as its button gives it
    EXPECT_EQ(refused.output(), "qzconfig: --minor: Please input correct iBeacon Minor value!\n");
}

class QzconfigAir : public testing::Test {
protected:
    QzconfigAir()
        : bus_(testing::TempDir() + "bus-" + testing::UnitTest::GetInstance()->current_test_info()->name())
    {
    }

    // Runs qzconfig to its end, with BlueZ playing the scenario.
    std::pair<int, std::string> run(const json& scenario, const std::vector<std::string>& args)
    {
        bluez_ = std::make_unique<FakeBluez>(bus_, scenario);
        QzconfigProcess process(args);
        const int status = process.wait();
        return {status, process.output()};
    }
    std::vector<std::string> calls() const { return bluez_->calls(); }

    FakeSystemBus bus_;
    std::unique_ptr<FakeBluez> bluez_;
};

TEST_F(QzconfigAir, AnIBeaconHeardAsSetIsToldCheckByCheckAndEndsTheListening)
{
    ASSERT_TRUE(bus_.running());
    const auto started = std::chrono::steady_clock::now();
    const auto [status, output] = run(OneAdapter({beacon("11:22:33:44:55:66", "278D")}),
                                      {"verify", "ibeacon", "--timeout=20"});
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, restartAdvice + "20 s\n"
                      "heard as set: 11:22:33:44:55:66, RSSI -48 dBm\n"
                      "  matched: iBeacon UUID 0000FFF0-0000-1000-8000-00805F9B34FB\n"
                      "  matched: major 10123 (0x278B)\n"
                      "  matched: minor 10125 (0x278D)\n"
                      "  shown, not compared: measured power -59 dBm\n");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(calls(), (std::vector<std::string>{"SetDiscoveryFilter hci0 DuplicateData=1 Transport=le",
                                                 "StartDiscovery hci0", "StopDiscovery hci0"}));
}

TEST_F(QzconfigAir, EachDifferenceIsToldInTheDecodersWordsAndExitsWithFour)
{
    struct Case {
        std::vector<std::string> args;
        json advert;
        std::string difference;
    };
    const std::vector<std::string> beaconArgs = {"verify", "ibeacon", "--timeout=1"};
    const std::vector<std::string> lampArgs = with({"verify"}, with(broadcastArgs, {"--timeout=1"}));
    const Case cases[] = {
        {beaconArgs, beacon("11:22:33:44:55:66", "278D", 20, "1111FFF000001000800000805F9B34FB"),
         "  differs: set iBeacon UUID 0000FFF0-0000-1000-8000-00805F9B34FB; heard iBeacon UUID "
         "1111FFF0-0000-1000-8000-00805F9B34FB\n"},
        {beaconArgs, beacon("11:22:33:44:55:66", "278D", 20, defaultUUID, "278C"),
         "  differs: set major 10123 (0x278B); heard major 10124 (0x278C)\n"},
        {lampArgs, lamp({{"name", "Lamp-00"}}),
         "  differs: set Complete Local Name: Lamp-01; heard Complete Local Name: Lamp-00\n"},
        {lampArgs, lamp({{"manufacturer", {{"0x0059", "0103"}}}}),
         "  differs: set Manufacturer Specific Data: company 0x0059 (Nordic Semiconductor ASA), data 0102; heard "
         "Manufacturer Specific Data: company 0x0059 (Nordic Semiconductor ASA), data 0103\n"},
        {lampArgs, lamp({{"manufacturer", {{"0x0060", "0102"}}}}),
         "  differs: set Manufacturer Specific Data: company 0x0059 (Nordic Semiconductor ASA), data 0102; heard no "
         "Manufacturer Specific Data\n"},
        // Data of a type BlueZ never sends is not read, and does not end the program.
        {lampArgs, lamp({{"nested", true}}),
         "  differs: set Manufacturer Specific Data: company 0x0059 (Nordic Semiconductor ASA), data 0102; heard no "
         "Manufacturer Specific Data\n"},
        {lampArgs, lamp({{"service_data", {{serviceUUID, "AACC"}}}}),
         "  differs: set Service Data - 16-bit UUID: uuid FFF0, data AABB; heard Service Data - 16-bit UUID: uuid "
         "FFF0, data AACC\n"},
    };
    for (const Case& c : cases) {
        const auto [status, output] = run(OneAdapter({c.advert}), c.args);
        EXPECT_EQ(status, 4) << output;
        EXPECT_TRUE(contains(output, "heard otherwise: ")) << output;
        EXPECT_TRUE(contains(output, c.difference)) << c.difference << "\nin\n" << output;
        EXPECT_EQ(calls().back(), "StopDiscovery hci0");
    }
}

// A name BlueZ may give from memory proves nothing: where bluetoothd offers its monitor,
// the name must be found in what the module sent, and the monitor goes when listening ends.
TEST_F(QzconfigAir, ARememberedNameCountsOnlyWhereTheMonitorFoundIt)
{
    const std::string sent = "02010608094C616D702D3031"; // the advertising package on the air
    const std::string remembered = "  not confirmed: Complete Local Name: Lamp-01; BlueZ shows Complete Local Name: "
                                   "Lamp-01, which it may have kept from an earlier scan\n";
    struct Case {
        json monitor; // null: bluetoothd without -E
        std::string raw;
        int status;
        std::string summary;
        std::string nameLine;
        std::string note;
    };
    const Case cases[] = {
        {nullptr, sent, 4, "heard, not confirmed: ", remembered,
         "  not confirmed without bluetoothd's advertisement monitor: Complete Local Name; bluetoothd -E lets qzconfig "
         "check the name in the advertisement itself: see README\n"},
        {true, sent, 0, "heard as set: ", "  matched: Complete Local Name: Lamp-01 (proven by a pattern)\n", ""},
        {true, "020106", 4, "heard otherwise: ",
         "  differs: set Complete Local Name: Lamp-01; heard no Complete Local Name in what it sent (bluetoothd's "
         "monitor never found it)\n",
         ""},
        {"refuse", sent, 4, "heard, not confirmed: ", remembered,
         "; bluetoothd refused its advertisement monitor (org.bluez.Error.Failed: no room for another monitor), so "
         "the name cannot be checked in the advertisement itself: see README\n"},
        // Listening waits for the monitor, five seconds at most.
        {"inactive", sent, 4, "heard, not confirmed: ", remembered,
         "; bluetoothd did not start its advertisement monitor within 5 s\n"},
    };
    for (const Case& c : cases) {
        json scenario = OneAdapter({lamp({{"raw", c.raw}})});
        if (!c.monitor.is_null())
            scenario["adapters"][0]["monitor"] = c.monitor;
        scenario["known"] = {lamp({{"name", "Lamp-00"}})}; // what BlueZ remembers from before
        const auto [status, output] = run(scenario, with(with({"verify"}, broadcastArgs), {"--timeout=1"}));
        EXPECT_EQ(status, c.status) << output;
        EXPECT_EQ(output.rfind(c.summary + "00:0E:0B:12:34:56 (Lamp-01), RSSI -60 dBm", 0), 0u) << output;
        EXPECT_TRUE(contains(output, c.nameLine)) << output;
        EXPECT_TRUE(contains(output, c.note)) << output;
        const std::vector<std::string> asked = calls();
        EXPECT_EQ(asked.front(), "RemoveDevice /org/bluez/hci0/dev_00_0E_0B_12_34_56");
        if (c.monitor == true) {
            EXPECT_EQ(asked.back(), "UnregisterMonitor hci0") << output;
        }
    }
}

// A name heard changing while listening was sent; what BlueZ does not show is said, and
// not held against the module.
TEST_F(QzconfigAir, WhatBlueZDoesNotShowIsSaidAndNotHeldAgainstTheModule)
{
    json unnamed = lamp();
    unnamed.erase("flags"); // bluetoothd shows them only when started with -E
    unnamed.erase("name");
    const json named = {{"address", "00:0E:0B:12:34:56"}, {"after_ms", 60}, {"name", "Lamp-01"}};
    const auto [status, output] = run(OneAdapter({unnamed, named}), with({"verify"}, broadcastArgs));
    EXPECT_EQ(status, 0) << output;
    EXPECT_TRUE(contains(output, "  matched: Complete Local Name: Lamp-01\n")) << output;
    EXPECT_TRUE(contains(output, "  not shown by BlueZ, not checked: Flags: LE General Discoverable Mode, BR/EDR "
                                 "Not Supported\n"))
        << output;
}

TEST_F(QzconfigAir, OnlyAdvertisementsHeardSinceListeningBeganCount)
{
    json scenario = OneAdapter();
    scenario["known"] = {beacon("11:22:33:44:55:66", "278D")};
    const auto started = std::chrono::steady_clock::now();
    const auto [status, output] = run(scenario, {"verify", "ibeacon", "--timeout=1"});
    EXPECT_EQ(status, 4) << output;
    EXPECT_EQ(output, restartAdvice + "1 s\n"
                      "not heard: no iBeacon was heard; the module may need a restart: power it off and on, then "
                      "check again\n");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(calls().back(), "StopDiscovery hci0");

    const auto [broadcastStatus, broadcastOutput] =
        run(OneAdapter({lamp({{"address", "00:0E:0B:12:34:57"}})}), with({"verify"}, with(broadcastArgs, {"--timeout=1"})));
    EXPECT_EQ(broadcastStatus, 4) << broadcastOutput;
    EXPECT_EQ(broadcastOutput, "not heard: no device at 00:0E:0B:12:34:56 was heard\n");
}

TEST_F(QzconfigAir, OfTwoBeaconsWithOneUUIDTheOneWithTheMinorSetIsTheModule)
{
    for (const bool rightFirst : {false, true}) {
        const json wrong = beacon("11:22:33:44:55:01", "278C", rightFirst ? 60 : 20);
        const json right = beacon("11:22:33:44:55:02", "278D", rightFirst ? 20 : 60);
        const auto [status, output] = run(OneAdapter({wrong, right}), {"verify", "ibeacon", "--timeout=5"});
        EXPECT_EQ(status, 0) << output;
        EXPECT_TRUE(contains(output, "heard as set: 11:22:33:44:55:02, RSSI -48 dBm\n")) << output;
    }
    // A neighbour with the same UUID and major is not the module set otherwise.
    const json otherUUID = beacon("11:22:33:44:55:03", "278D", 20, "2222FFF000001000800000805F9B34FB");
    const auto [status, output] = run(OneAdapter({beacon("11:22:33:44:55:01", "278C")}),
                                      {"verify", "ibeacon", "--timeout=1"});
    EXPECT_EQ(status, 4);
    EXPECT_TRUE(contains(output, "not heard: no iBeacon was heard; the module may need a restart: power it off and on, "
                                 "then check again\n  another beacon with this UUID and major was heard: minor 10124 "
                                 "at 11:22:33:44:55:01\n"))
        << output;
    const auto [otherStatus, otherOutput] = run(OneAdapter({otherUUID}), {"verify", "ibeacon", "--timeout=1"});
    EXPECT_EQ(otherStatus, 4);
    EXPECT_TRUE(contains(otherOutput, "heard otherwise: 11:22:33:44:55:03, RSSI -48 dBm, 1 difference\n")) << otherOutput;
}

TEST_F(QzconfigAir, ANameThatChangesDuringTheListeningIsHeardAsItNowIs)
{
    json renamed = lamp({{"after_ms", 300}});
    for (const char* gone : {"flags", "manufacturer", "service_data", "uuids"})
        renamed.erase(gone);
    const auto [status, output] = run(OneAdapter({lamp({{"name", "Lamp-00"}}), renamed}), with({"verify"}, broadcastArgs));
    EXPECT_EQ(status, 0) << output;
    EXPECT_TRUE(contains(output, "heard as set: 00:0E:0B:12:34:56 (Lamp-01)")) << output;
}

TEST_F(QzconfigAir, NothingToListenWithExitsWithThreeAndSaysWhy)
{
    struct Case {
        json scenario;
        std::vector<std::string> more;
        std::string why;
    };
    const std::string cannot = "qzconfig: cannot listen over the air: ";
    const Case cases[] = {
        {{{"adapters", json::array()}}, {}, "BlueZ has no Bluetooth adapter: plug one in, or see whether the kernel "
                                            "found it (bluetoothctl list)\n"},
        {OneAdapter(), {"--adapter=hci1"}, "BlueZ has no adapter hci1 (bluetoothctl list names those there are)\n"},
        {{{"adapters", {{{"name", "hci0"}, {"powered", false}}}}}, {},
         "the Bluetooth adapter hci0 is off: bluetoothctl power on switches it on\n"},
        {{{"adapters", {{{"name", "hci0"}, {"powered", false}}, {{"name", "hci1"}, {"powered", false}}}}}, {},
         "no Bluetooth adapter is on (hci0, hci1): bluetoothctl power on switches one on\n"},
    };
    for (const Case& c : cases) {
        for (const std::vector<std::string>& args :
             {with({"verify", "ibeacon"}, c.more), with({"scan", "--timeout=1"}, c.more)}) {
            const auto [status, output] = run(c.scenario, args);
            EXPECT_EQ(status, 3) << output;
            EXPECT_EQ(output, cannot + c.why);
            EXPECT_EQ(calls(), std::vector<std::string>()); // the adapter is never switched on, nor asked
        }
    }
    bluez_.reset(); // a bus without bluetoothd
    QzconfigProcess verify({"verify", "ibeacon"});
    EXPECT_EQ(verify.wait(), 3);
    EXPECT_EQ(verify.output(), cannot + "BlueZ is not running: no org.bluez on the system bus; start bluetoothd "
                                        "(systemctl start bluetooth)\n");
}

// bluetoothd's monitor, once it looks, listens alone for half the listening before BlueZ
// discovers; one that will not look holds nothing up.
TEST_F(QzconfigAir, TheMonitorListensAloneBeforeBlueZDiscovers)
{
    struct Case {
        json monitor; // null: bluetoothd without -E
        int status;
        bool alone;
    };
    const Case cases[] = {{true, 0, true}, {"refuse", 4, false}, {nullptr, 4, false}};
    for (const Case& c : cases) {
        json scenario = OneAdapter({lamp({{"raw", "02010608094C616D702D3031"}})});
        if (!c.monitor.is_null())
            scenario["adapters"][0]["monitor"] = c.monitor;
        scenario["known"] = {lamp({{"name", "Lamp-00"}})}; // a name to prove
        const auto started = std::chrono::steady_clock::now();
        const auto [status, output] = run(scenario, with(with({"verify"}, broadcastArgs), {"--timeout=4"}));
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(status, c.status) << output;
        // Heard 20 ms into discovery: after the two seconds alone, or at once.
        EXPECT_EQ(took >= std::chrono::seconds(2), c.alone) << c.monitor << ": " << output;
    }
}

// An adapter that will not discover ends the check, whether bluetoothd's monitor listened
// alone before or not: exit 3, saying why.
TEST_F(QzconfigAir, AnAdapterThatWillNotDiscoverEndsTheCheckWithThree)
{
    struct Case {
        const char* refused;
        bool monitor;
        std::string why;
        std::string lastCall; // nothing is asked after a refusal, and the monitor goes
    };
    const std::string notStarted = "the adapter hci0 cannot start listening: org.bluez.Error.InProgress: busy\n";
    const Case cases[] = {
        {"SetDiscoveryFilter", false, "the adapter hci0 refused the discovery filter: org.bluez.Error.InProgress: busy\n",
         "SetDiscoveryFilter hci0 DuplicateData=1 Transport=le"},
        {"StartDiscovery", false, notStarted, "StartDiscovery hci0"},
        {"StartDiscovery", true, notStarted, "UnregisterMonitor hci0"},
    };
    for (const Case& c : cases) {
        json scenario = OneAdapter({lamp()});
        scenario["adapters"][0]["refuse"] = c.refused;
        if (c.monitor)
            scenario["adapters"][0]["monitor"] = true;
        scenario["known"] = {lamp({{"name", "Lamp-00"}})}; // a name to prove: the monitor is asked
        const auto [status, output] = run(scenario, with(with({"verify"}, broadcastArgs), {"--timeout=2"}));
        EXPECT_EQ(status, 3) << output;
        EXPECT_EQ(output, "qzconfig: cannot listen over the air: " + c.why) << c.refused;
        EXPECT_EQ(calls().back(), c.lastCall) << c.refused;
    }
}

// Without --adapter, the first adapter that is on listens; the radio going away while it
// listens is no finding about the module: exit 3 within a second, in JSON too.
TEST_F(QzconfigAir, TheFirstAdapterThatIsOnListensAndLosingItEndsTheCheck)
{
    json scenario = {{"adapters",
                      {{{"name", "hci0"}, {"powered", false}}, {{"name", "hci1"}, {"off_after_ms", 500}, {"monitor", true}}}}};
    const auto started = std::chrono::steady_clock::now();
    const auto [status, output] = run(scenario, with(with({"verify"}, broadcastArgs), {"--timeout=20", "--json"}));
    EXPECT_EQ(status, 3) << output;
    // The monitor listens alone for three seconds; the adapter goes half a second into discovery.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(4500));
    EXPECT_EQ(json::parse(output.substr(output.find('{')))["reason"], "the Bluetooth adapter hci1 was switched off");
    // Discovery starts once the monitor looks; the monitor goes with the listening, however that ends.
    EXPECT_EQ(calls(), (std::vector<std::string>{"RemoveDevice /org/bluez/hci1/dev_00_0E_0B_12_34_56",
                                                 "RegisterMonitor hci1", "Activate hci1", "Activate hci1",
                                                 "Activate hci1", "Activate hci1",
                                                 "SetDiscoveryFilter hci1 DuplicateData=1 Transport=le",
                                                 "StartDiscovery hci1", "StopDiscovery hci1", "UnregisterMonitor hci1"}));
}

TEST_F(QzconfigAir, CtrlCEndsTheListeningWithWhatWasHeardAndStopsDiscovery)
{
    bluez_ = std::make_unique<FakeBluez>(bus_, OneAdapter());
    QzconfigProcess verify({"verify", "ibeacon", "--timeout=60"});
    ASSERT_TRUE(verify.waitFor("listening for 60 s\n")) << verify.output();
    verify.signal(SIGINT);
    EXPECT_EQ(verify.wait(), 130);
    EXPECT_TRUE(contains(verify.output(), "\nstopped: listening was stopped before the module was heard as set\n"))
        << verify.output();
    EXPECT_EQ(calls().back(), "StopDiscovery hci0");
}

TEST_F(QzconfigAir, ScanListsEveryDeviceHeardDecoded)
{
    const auto [status, output] = run(OneAdapter({beacon("11:22:33:44:55:66", "278D"), lamp()}), {"scan", "--timeout=1"});
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "00:0E:0B:12:34:56  \"Lamp-01\" (remembered)  RSSI -60 dBm\n"
                      "  Flags: LE General Discoverable Mode, BR/EDR Not Supported\n"
                      "  Service Data - 16-bit UUID: uuid FFF0, data AABB\n"
                      "  Manufacturer Specific Data: company 0x0059 (Nordic Semiconductor ASA), data 0102\n"
                      "11:22:33:44:55:66  RSSI -48 dBm\n"
                      "  Manufacturer Specific Data: company 0x004C (Apple, Inc.), iBeacon, uuid "
                      "0000FFF0-0000-1000-8000-00805F9B34FB, major 10123, minor 10125, measured power -59 dBm\n");

    const auto [jsonStatus, jsonOutput] = run(OneAdapter({lamp()}), {"scan", "--timeout=1", "--json"});
    EXPECT_EQ(jsonStatus, 0);
    const json devices = json::parse(jsonOutput);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]["address"], "00:0E:0B:12:34:56");
    EXPECT_EQ(devices[0]["manufacturer_data"], (json{{"0059", "0102"}}));
    EXPECT_EQ(devices[0]["service_data"], (json{{serviceUUID, "AABB"}}));
    EXPECT_EQ(devices[0]["flags"], "06");
    EXPECT_EQ(devices[0]["structures"][1], "Service Data - 16-bit UUID: uuid FFF0, data AABB");
    EXPECT_EQ(devices[0]["structures"].size(), 3u);
    EXPECT_EQ(devices[0]["name_remembered"], true);
}

// With bluetoothd's monitor, a scan asks whether each name shown was sent, and marks only
// the one it could not find.
TEST_F(QzconfigAir, ScanMarksOnlyANameTheMonitorDidNotFind)
{
    const std::string name = "08094C616D702D3031";
    json again = lamp({{"after_ms", 400}, {"raw", name}}); // once the monitor looks for the name
    again.erase("name");                                    // BlueZ tells only what changed
    json tag = beacon("11:22:33:44:55:66", "278D", 400);
    tag["name"] = "Tag";
    json scenario = OneAdapter({lamp({{"raw", name}}), again, beacon("11:22:33:44:55:66", "278D"), tag});
    scenario["adapters"][0]["monitor"] = true;
    const auto [status, output] = run(scenario, {"scan", "--timeout=1"});
    EXPECT_EQ(status, 0) << output;
    EXPECT_TRUE(contains(output, "00:0E:0B:12:34:56  \"Lamp-01\"  RSSI -60 dBm\n")) << output;
    EXPECT_TRUE(contains(output, "11:22:33:44:55:66  \"Tag\"  RSSI -48 dBm\n")) << output; // heard changing
}

// A device BlueZ held from before sends only what changed: the scan reads the rest.
TEST_F(QzconfigAir, ScanReadsADeviceBlueZHeldFromBefore)
{
    json scenario = OneAdapter({{{"address", "00:0E:0B:12:34:56"}, {"after_ms", 20}, {"rssi", -61}}});
    scenario["known"] = {lamp({{"appearance", 0x0100}})};
    const auto [status, output] = run(scenario, {"scan", "--timeout=1"});
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "00:0E:0B:12:34:56  \"Lamp-01\" (remembered)  RSSI -61 dBm\n"
                      "  Flags: LE General Discoverable Mode, BR/EDR Not Supported\n"
                      "  Appearance: appearance 0x0100, Clock, subcategory 0\n"
                      "  Service Data - 16-bit UUID: uuid FFF0, data AABB\n"
                      "  Manufacturer Specific Data: company 0x0059 (Nordic Semiconductor ASA), data 0102\n");
}

TEST_F(QzconfigAir, VerifyAnswersInJsonForScripts)
{
    const auto [status, output] = run(OneAdapter({beacon("11:22:33:44:55:66", "278D", 20, defaultUUID, "0001")}),
                                      {"verify", "ibeacon", "--timeout=1", "--json"});
    EXPECT_EQ(status, 4);
    const json verdict = json::parse(output.substr(output.find('{')));
    EXPECT_EQ(verdict["outcome"], "heard otherwise");
    EXPECT_EQ(verdict["address"], "11:22:33:44:55:66");
    EXPECT_EQ(verdict["restart_needed"], true);
    EXPECT_EQ(verdict["seconds"], 1);
    EXPECT_EQ(verdict["checks"][1], (json{{"result", "differs"},
                                          {"what", "major"},
                                          {"expected", "major 10123 (0x278B)"},
                                          {"heard", "major 1 (0x0001)"},
                                          {"by_pattern", false}}));
    // Whatever the end, a script reads its answer.
    const auto [offStatus, offOutput] =
        run({{"adapters", {{{"name", "hci0"}, {"powered", false}}}}}, {"verify", "ibeacon", "--json"});
    EXPECT_EQ(offStatus, 3);
    EXPECT_EQ(json::parse(offOutput), (json{{"outcome", "cannot listen"},
                                            {"verdict", "cannot listen"},
                                            {"reason", "the Bluetooth adapter hci0 is off: bluetoothctl power on "
                                                       "switches it on"}}));
}

TEST_F(QzconfigAir, VerifyBesideAPortListensOnceTheListWasTaken)
{
    FakeModule module;
    const auto [status, output] = run(OneAdapter({beacon("11:22:33:44:55:66", "278D")}),
                                      {"ibeacon", "--port=" + module.path(), "--verify", "--listen=5"});
    EXPECT_EQ(status, 0) << output;
    EXPECT_TRUE(contains(output, "8 of 8 commands were taken\n" + restartAdvice + "5 s\nheard as set: ")) << output;

    FakeModule unheard;
    const auto [failed, failedOutput] = run(OneAdapter(), {"ibeacon", "--port=" + unheard.path(), "--verify", "--listen=1"});
    EXPECT_EQ(failed, 4) << failedOutput;

    // Nothing is sent to a module that could not then be heard.
    FakeModule untouched;
    const auto [off, offOutput] = run({{"adapters", {{{"name", "hci0"}, {"powered", false}}}}},
                                      {"ibeacon", "--port=" + untouched.path(), "--verify"});
    EXPECT_EQ(off, 3);
    EXPECT_EQ(offOutput, "qzconfig: cannot listen over the air: the Bluetooth adapter hci0 is off: bluetoothctl power "
                         "on switches it on\n");
    const auto [missing, missingOutput] =
        run(OneAdapter(), {"ibeacon", "--port=" + untouched.path(), "--verify", "--adapter=hci1"});
    EXPECT_EQ(missing, 3) << missingOutput;
    bluez_.reset();
    QzconfigProcess noBluez({"ibeacon", "--port=" + untouched.path(), "--verify"});
    EXPECT_EQ(noBluez.wait(), 3);
    EXPECT_TRUE(untouched.received().empty());
}

// A module heard otherwise took its values: they stay with it, and the next module gets
// the next ones, so that no two modules carry one minor.
TEST_F(QzconfigAir, InABatchAModuleNotHeardAsSetFailsAndKeepsItsValues)
{
    const std::string link = testing::TempDir() + "qz-air-fixture";
    std::vector<std::unique_ptr<FakeModule>> modules;
    for (int i = 0; i < 2; ++i)
        modules.push_back(std::make_unique<FakeModule>());
    plug(link, *modules[0]);
    // The first module is heard with a minor it was not given; the next as set.
    json first = beacon("11:22:33:44:55:01", "00FF");
    json second = beacon("11:22:33:44:55:02", "00FF");
    first["round"] = 1;
    second["round"] = 2;
    bluez_ = std::make_unique<FakeBluez>(bus_, OneAdapter({first, second}));
    const std::string record = testing::TempDir() + "qz-air-record.csv";
    std::filesystem::remove(record);
    QzconfigProcess batch({"ibeacon", "--minor=00FE", "--port=" + link, "--modules=2", "--count=minor",
                           "--record=" + record, "--verify", "--listen=1"});
    ASSERT_TRUE(batch.waitFor("Waiting for the next module")) << batch.output();
    plug(link, *modules[1]);
    EXPECT_EQ(batch.wait(), 3) << batch.output();
    const std::string columns = beaconColumns(link);
    EXPECT_EQ(recordRows(record), (std::vector<std::string>{
                        "port,module,uuid,major,minor,sent,taken,total,result,message",
                        // Its neighbour's advertisement is no finding about the module.
                        columns + "00FE,8,8,8,failed,\"8 of 8 commands were taken; not heard: no iBeacon was heard; the "
                                  "module may need a restart: power it off and on, then check again; another beacon "
                                  "with this UUID and major was heard: minor 255 at 11:22:33:44:55:01\"",
                        columns + "00FF,8,8,8,set up,\"8 of 8 commands were taken; heard as set: 11:22:33:44:55:02, RSSI "
                                  "-48 dBm\""}));
    EXPECT_TRUE(contains(batch.output(), "Listening over the air for the module on " + link + " for 1 s\n"));
    EXPECT_TRUE(contains(batch.output(), "1 of 2 modules were set up\n"));
}

TEST_F(QzconfigAir, AnAdapterSwitchedOffBetweenModulesFailsTheNextModuleAndSaysWhy)
{
    FakeModule first;
    FakeModule second;
    const std::string link = testing::TempDir() + "qz-air-off-fixture";
    plug(link, first);
    json scenario = OneAdapter({beacon("11:22:33:44:55:01", "00FE")});
    scenario["adapters"][0]["off_after_round"] = 1;
    bluez_ = std::make_unique<FakeBluez>(bus_, scenario);
    const std::string record = testing::TempDir() + "qz-air-off-record.csv";
    std::filesystem::remove(record);
    QzconfigProcess batch({"ibeacon", "--minor=00FE", "--port=" + link, "--modules=2", "--count=minor",
                           "--record=" + record, "--verify", "--listen=1"});
    ASSERT_TRUE(batch.waitFor("Waiting for the next module")) << batch.output();
    plug(link, second);
    EXPECT_EQ(batch.wait(), 3) << batch.output(); // the radio is gone: the batch stops
    EXPECT_TRUE(contains(batch.output(), "Stopped: nothing can listen over the air any more, so no further module was "
                                         "sent its list\n"));
    const std::string columns = beaconColumns(link);
    EXPECT_EQ(recordRows(record), (std::vector<std::string>{
                        "port,module,uuid,major,minor,sent,taken,total,result,message",
                        columns + "00FE,8,8,8,set up,\"8 of 8 commands were taken; heard as set: 11:22:33:44:55:01, "
                                  "RSSI -48 dBm\"",
                        columns + "00FF,8,8,8,failed,8 of 8 commands were taken; cannot listen over the air: the "
                                  "Bluetooth adapter hci0 is off: bluetoothctl power on switches it on"}))
        << batch.output();
}

// The radio going away while a module is listened for fails that module for that reason,
// and no further module is sent its list.
TEST_F(QzconfigAir, InABatchLosingTheRadioWhileListeningStopsIt)
{
    FakeModule first;
    FakeModule second;
    const std::string link = testing::TempDir() + "qz-air-lost-fixture";
    plug(link, first);
    json scenario = OneAdapter();
    scenario["adapters"][0]["off_after_ms"] = 300;
    bluez_ = std::make_unique<FakeBluez>(bus_, scenario);
    const std::string record = testing::TempDir() + "qz-air-lost-record.csv";
    std::filesystem::remove(record);
    QzconfigProcess batch({"ibeacon", "--minor=00FE", "--port=" + link, "--modules=2", "--count=minor",
                           "--record=" + record, "--verify", "--listen=20"});
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(batch.wait(), 3) << batch.output();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
    EXPECT_TRUE(contains(batch.output(), "Stopped: nothing can listen over the air any more")) << batch.output();
    EXPECT_EQ(recordRows(record), (std::vector<std::string>{
                                      "port,module,uuid,major,minor,sent,taken,total,result,message",
                                      beaconColumns(link) + "00FE,8,8,8,failed,8 of 8 commands were taken; cannot listen "
                                                            "over the air: the Bluetooth adapter hci0 was switched off"}));
    EXPECT_TRUE(second.commands().empty());
}

// A stop is prompt whatever is queued: no listening starts after it, and a module that
// took its list but was never heard is recorded failed, not set up.
TEST_F(QzconfigAir, AStopEndsABatchAtOnceAndNoModuleUnheardIsSetUp)
{
    FakeModule quick;
    FakeModule slow([](const std::string& command) {
        return FakeModule::Reply{{{std::chrono::milliseconds(command.rfind("AT+MINO", 0) == 0 ? 800 : 1), "OK"}}};
    });
    const std::string first = testing::TempDir() + "qz-air-stop-a";
    const std::string second = testing::TempDir() + "qz-air-stop-b";
    plug(first, quick);
    plug(second, slow);
    bluez_ = std::make_unique<FakeBluez>(bus_, OneAdapter()); // hears nothing
    const std::string record = testing::TempDir() + "qz-air-stop-record.csv";
    std::filesystem::remove(record);
    QzconfigProcess batch({"ibeacon", "--minor=00FE", "--port=" + first, "--port=" + second, "--modules=2",
                           "--count=minor", "--record=" + record, "--verify", "--listen=20"});
    ASSERT_TRUE(batch.waitFor("Listening over the air for the module on " + first)) << batch.output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the slow module's last reply is on its way
    const auto asked = std::chrono::steady_clock::now();
    batch.signal(SIGINT);
    EXPECT_EQ(batch.wait(), 130) << batch.output();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(3));
    const std::vector<std::string> rows = recordRows(record);
    ASSERT_EQ(rows.size(), 3u) << batch.output();
    for (std::size_t row = 1; row < rows.size(); ++row)
        EXPECT_TRUE(contains(rows[row], ",8,8,8,failed,Stopped before it was heard over the air; 8 of 8 commands were "
                                        "taken"))
            << rows[row];
    EXPECT_FALSE(contains(batch.output(), "Listening over the air for the module on " + second));
}

} // namespace
