// qzconfig console, discover and connect against fake central modules on pseudo-terminals.

#include "FakeModule.h"
#include "QzconfigProcess.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <memory>

namespace {

using qz::test::FakeModule;
using qz::test::QzconfigProcess;
using std::chrono::milliseconds;
using Reply = FakeModule::Reply;

// A central module: its scan answers, split and joined as a module's UART may send them,
// and AT+CO to a device it heard.
Reply central(const std::string& command)
{
    if (command == "AT+DISC?")
        return {{{milliseconds(5), "OK+DISCS"},
                 {milliseconds(40), "OK+DIS00017EA0943AELamp-01\r\nOK+DIS1"},
                 {milliseconds(60), "001122334455"},
                 {milliseconds(300), "\r\nOK+DISCE"}}};
    if (command == "AT+CO00017EA0943AE")
        return {{{milliseconds(5), "OK+CONNA"}, {milliseconds(400), "OK+CONN"}}};
    if (command == "hello")
        return {{{milliseconds(5), "world\x01"}}};
    if (command == "AT+SILENT")
        return {};
    if (command == "AT+FLOOD")
        return FakeModule::endless("~", milliseconds(1));
    return FakeModule::ok(command == "AT+ROLE?" ? "OK+Get:1" : "OK");
}

// A central that holds a link once connected: a lone AT ends it, and it says so. first:
// what it sends as it connects, the device's first bytes after OK+CONN included.
FakeModule::Script linking(std::string first = "OK+CONN")
{
    auto linked = std::make_shared<bool>(false);
    return [linked, first](const std::string& command) -> Reply {
        if (command.rfind("AT+CO", 0) == 0) {
            *linked = true;
            return {{{milliseconds(5), "OK+CONNA"}, {milliseconds(400), first}}};
        }
        if (*linked && command == "AT") {
            *linked = false;
            return FakeModule::ok("OK+LOST");
        }
        if (*linked && command == "slow")
            return {{{milliseconds(300), "late"}}};
        return central(command);
    };
}

// A runtime folder of the test's own, where qzconfig keeps its last discovery per port:
// a port path an earlier test used must not bring its devices along.
class FreshRuntime {
public:
    FreshRuntime()
    {
        static int made = 0;
        folder_ = testing::TempDir() + "qz-runtime-" + std::to_string(getpid()) + "-" + std::to_string(++made);
        std::filesystem::create_directories(folder_);
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
    }
    ~FreshRuntime()
    {
        unsetenv("XDG_RUNTIME_DIR");
        std::filesystem::remove_all(folder_);
    }

private:
    std::string folder_;
};

TEST(QzconfigTalk, ConsoleSendsEachLineAfterTheReplyBeforeIt)
{
    struct Case {
        std::string input;
        std::string out;
        int status;
        std::vector<std::string> sent;
    };
    const std::vector<Case> cases = {
        {"AT\nAT+ROLE?", "> AT\n< OK\n> AT+ROLE?\n< OK+Get:1\n", 0, {"AT", "AT+ROLE?"}},
        {"AT+SILENT\r\n\nAT\n", "> AT+SILENT\n< (no reply)\n> AT\n< OK\n", 4, {"AT+SILENT", "AT"}},
        // A CR inside a line ends a command: two commands, never one write.
        {"AT\rAT+ROLE?\r\n", "> AT\n< OK\n> AT+ROLE?\n< OK+Get:1\n", 0, {"AT", "AT+ROLE?"}},
    };
    for (const Case& row : cases) {
        FakeModule module(central);
        QzconfigProcess qzconfig({"console", "--port=" + module.path(), "--timeout=300"}, true);
        qzconfig.type(row.input);
        qzconfig.closeInput();
        EXPECT_EQ(qzconfig.wait(), row.status) << qzconfig.errors();
        EXPECT_EQ(qzconfig.output(), row.out);
        EXPECT_EQ(module.commands(), row.sent);
        // Each command went only once the reply before it was complete.
        const auto received = module.received();
        const auto replyEnds = module.replyEnds();
        for (std::size_t i = 1; row.status == 0 && i < received.size(); ++i)
            EXPECT_GT(received[i].firstByte, replyEnds[i - 1]);
    }
    // A module that floods is given up at the reply's bound, and the console ends.
    FakeModule module(central);
    QzconfigProcess flooded({"console", "--port=" + module.path()}, true);
    flooded.type("AT+FLOOD\n");
    flooded.closeInput();
    EXPECT_EQ(flooded.wait(), 0);
    EXPECT_EQ(flooded.output().rfind("> AT+FLOOD\n< " + std::string(256, '~') + "\n", 0), 0u) << flooded.output();
    // Past 256 bytes; how far past depends on how the line's bytes came in.
    const std::string kept = "The module kept sending in reply to AT+FLOOD: ";
    const std::size_t said = flooded.errors().find(kept);
    ASSERT_NE(said, std::string::npos) << flooded.errors();
    EXPECT_GT(std::stoul(flooded.errors().substr(said + kept.size())), 256u) << flooded.errors();
}

TEST(QzconfigTalk, DiscoverListsEachDeviceOnce)
{
    FakeModule module(central);
    QzconfigProcess text({"discover", "--port=" + module.path()}, true);
    EXPECT_EQ(text.wait(), 0) << text.errors();
    EXPECT_EQ(text.output(), "1  00:17:EA:09:43:AE  \"Lamp-01\"\n2  00:11:22:33:44:55\n");
    EXPECT_EQ(text.errors(), "");

    QzconfigProcess json({"discover", "--port=" + module.path(), "--json"}, true);
    EXPECT_EQ(json.wait(), 0);
    EXPECT_EQ(nlohmann::json::parse(json.output()),
              nlohmann::json::parse(R"({"devices": [{"type": "0", "address": "00:17:EA:09:43:AE", "name": "Lamp-01"},
                                                    {"type": "1", "address": "00:11:22:33:44:55", "name": null}],
                                        "cut": false})"));

    // A bench full of beacons: the list is cut at its bound, and says so.
    FakeModule crowded([](const std::string& command) -> Reply {
        if (command != "AT+DISC?")
            return FakeModule::ok();
        std::string heard = "OK+DISCS";
        for (int device = 0; device < 205; ++device)
            heard += "OK+DIS0" + std::string(9, '0') + std::to_string(100 + device) + "\r\n";
        return {{{milliseconds(5), heard + "OK+DISCE"}}};
    });
    QzconfigProcess cut({"discover", "--port=" + crowded.path(), "--json"}, true);
    EXPECT_EQ(cut.wait(), 0);
    const nlohmann::json answer = nlohmann::json::parse(cut.output());
    EXPECT_EQ(answer["devices"].size(), 200u);
    EXPECT_TRUE(answer["cut"]);
    EXPECT_EQ(cut.errors(), "qzconfig: --port " + crowded.path() + ": 200 devices listed; more were heard\n");
}

TEST(QzconfigTalk, DiscoverWithoutADeviceOrAnEndExitsWithFour)
{
    struct Case {
        std::vector<FakeModule::Piece> answer;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{{milliseconds(5), "OK+DISCSOK+DISCE"}}, "", "The module finished its scan: no device was heard\n"},
        {{{milliseconds(5), "OK+DISCS~~OK+DIS0001122334455"}},
         "1  00:11:22:33:44:55\n",
         "not understood in the scan: \"~~\"\n"
         "qzconfig: --port PORT: The module did not say OK+DISCE within 1 s; 1 device was heard\n"},
        // An endless stream, well past what is kept however slowly it comes: the scan still
        // ends at its time limit.
        {{}, "", "are shown\n"},
    };
    for (const Case& row : cases) {
        FakeModule module([&row](const std::string&) {
            return row.answer.empty() ? FakeModule::endless("OK+DISCS" + std::string(1000, 'x'), milliseconds(2)) : Reply{row.answer};
        });
        QzconfigProcess qzconfig({"discover", "--port=" + module.path(), "--timeout=1"}, true);
        EXPECT_EQ(qzconfig.wait(), 4);
        EXPECT_EQ(qzconfig.output(), row.out);
        std::string err = qzconfig.errors();
        for (std::size_t at = err.find(module.path()); at != std::string::npos; at = err.find(module.path()))
            err.replace(at, module.path().size(), "PORT");
        EXPECT_EQ(err.substr(err.size() - std::min(err.size(), row.err.size())), row.err);
    }
}

TEST(QzconfigTalk, ConnectRelaysBothWaysUntilTheEndOfInput)
{
    // A number names a device of the last discover; an address or a name are looked for.
    const std::map<std::string, std::vector<std::string>> targets = {
        {"1", {"AT+DISC?", "AT+CO00017EA0943AE", "hello"}},
        {"00:17:ea:09:43:ae", {"AT+DISC?", "AT+CO00017EA0943AE", "hello"}},
        {"Lamp-01", {"AT+DISC?", "AT+CO00017EA0943AE", "hello"}},
        {"0017EA0943AE --type=0", {"AT+CO00017EA0943AE", "hello"}},
    };
    for (const auto& [target, sent] : targets) {
        FreshRuntime runtime;
        FakeModule module(linking());
        if (target == "1") {
            EXPECT_EQ(QzconfigProcess({"discover", "--port=" + module.path()}, true).wait(), 0);
        }
        std::vector<std::string> args = {"connect", "--port=" + module.path()};
        std::istringstream words(target);
        std::string word;
        for (bool first = true; words >> word; first = false)
            args.push_back(first ? "--to=" + word : word);
        QzconfigProcess qzconfig(args, true);
        for (int tick = 0; tick < 500 && qzconfig.errors().find("Connected to") == std::string::npos; ++tick)
            std::this_thread::sleep_for(milliseconds(10));
        qzconfig.type("hello");
        EXPECT_TRUE(qzconfig.waitFor("world\x01")) << qzconfig.errors();
        qzconfig.closeInput();
        EXPECT_EQ(qzconfig.wait(), 0) << target;
        EXPECT_EQ(qzconfig.output(), "world\x01");
        // At the end of input the link ends, and the module confirmed it.
        std::vector<std::string> ended = sent;
        ended.push_back("AT");
        EXPECT_EQ(module.commands(), ended);
        EXPECT_NE(qzconfig.errors().find("qzconfig: Disconnected: the module ended the link (OK+LOST)\n"),
                  std::string::npos)
            << qzconfig.errors();
    }
}

// --to=NUMBER connects to the device discover listed under that number, though a new scan
// would hear them in another order; without a discover it says what to do.
TEST(QzconfigTalk, ANumberNamesTheDeviceTheLastDiscoverShowed)
{
    FreshRuntime runtime;
    auto scans = std::make_shared<int>(0);
    FakeModule module([scans](const std::string& command) -> Reply {
        if (command != "AT+DISC?")
            return command.rfind("AT+CO", 0) == 0 ? Reply{{{milliseconds(5), "OK+CONN"}}} : FakeModule::ok("OK+LOST");
        const std::string lamp = "OK+DIS00017EA0943AELamp-01\r\n";
        const std::string other = "OK+DIS1001122334455Kitchen light 2\r\n";
        return {{{milliseconds(5), "OK+DISCS" + (++*scans == 1 ? lamp + other : other + lamp) + "OK+DISCE"}}};
    });
    QzconfigProcess none({"connect", "--port=" + module.path(), "--to=2"}, true);
    EXPECT_EQ(none.wait(), 2);
    EXPECT_NE(none.errors().find("run qzconfig discover --port=" + module.path() + " first"), std::string::npos)
        << none.errors();
    QzconfigProcess discover({"discover", "--port=" + module.path()}, true);
    EXPECT_EQ(discover.wait(), 0);
    EXPECT_EQ(discover.output(), "1  00:17:EA:09:43:AE  \"Lamp-01\"\n2  00:11:22:33:44:55  \"Kitchen light 2\"\n");
    QzconfigProcess connect({"connect", "--port=" + module.path(), "--to=2", "--linger=0"}, true);
    connect.closeInput();
    EXPECT_EQ(connect.wait(), 0) << connect.errors();
    EXPECT_NE(connect.errors().find("connecting to 00:11:22:33:44:55 (type 1, \"Kitchen light 2\")"), std::string::npos)
        << connect.errors();
    EXPECT_EQ(module.commands(), (std::vector<std::string>{"AT+DISC?", "AT+CO1001122334455", "AT"}));
}

// What the device sends is never lost: its first bytes after OK+CONN, and its answer to
// the last input, which comes after the input ended but within --linger.
TEST(QzconfigTalk, ConnectPassesOnTheDevicesFirstAndLastBytes)
{
    FakeModule module(linking("OK+CONNHELLO\r\n"));
    QzconfigProcess piped({"connect", "--port=" + module.path(), "--to=0017EA0943AE", "--type=0"}, true);
    piped.type("slow");
    piped.closeInput();
    EXPECT_EQ(piped.wait(), 0) << piped.errors();
    EXPECT_EQ(piped.output(), "HELLO\r\nlate");
    EXPECT_EQ(module.commands(), (std::vector<std::string>{"AT+CO00017EA0943AE", "slow", "AT"}));
}

TEST(QzconfigTalk, ConnectEndsOnCtrlCAndTellsAMissingDevice)
{
    FreshRuntime runtime;
    FakeModule module(linking());
    EXPECT_EQ(QzconfigProcess({"discover", "--port=" + module.path()}, true).wait(), 0);
    QzconfigProcess relaying({"connect", "--port=" + module.path(), "--to=1"}, true);
    for (int tick = 0; tick < 500 && relaying.errors().find("Connected to") == std::string::npos; ++tick)
        std::this_thread::sleep_for(milliseconds(10));
    const auto asked = std::chrono::steady_clock::now();
    relaying.signal(SIGINT);
    EXPECT_EQ(relaying.wait(), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(3));
    EXPECT_EQ(module.commands().back(), "AT"); // the link ended with it
    EXPECT_NE(relaying.errors().find("Disconnected"), std::string::npos) << relaying.errors();

    QzconfigProcess missing({"connect", "--port=" + module.path(), "--to=3"}, true);
    EXPECT_EQ(missing.wait(), 4);
    EXPECT_NE(missing.errors().find("there is no device 3: the last discovery heard 2 devices"), std::string::npos)
        << missing.errors();

    FakeModule refusing([](const std::string& command) {
        return command.rfind("AT+CO", 0) == 0 ? FakeModule::ok("OK+CONNF") : central(command);
    });
    QzconfigProcess failed({"connect", "--port=" + refusing.path(), "--to=001122334455", "--type=1"}, true);
    EXPECT_EQ(failed.wait(), 4);
    EXPECT_NE(failed.errors().find("The module could not connect: it answered AT+CO1001122334455 with \"OK+CONNF\""),
              std::string::npos)
        << failed.errors();
}

// One meaning per exit status over console, discover and connect: a silent module is 4,
// "no reply", and never without a line that says why.
TEST(QzconfigTalk, ASilentModuleIsNoReplyEverywhere)
{
    FreshRuntime runtime;
    FakeModule silent([](const std::string&) { return Reply{}; });
    const std::vector<std::vector<std::string>> runs = {
        {"discover", "--port=" + silent.path()},
        {"connect", "--port=" + silent.path(), "--to=Lamp-01"},
        {"connect", "--port=" + silent.path(), "--to=0017EA0943AE", "--type=0"},
        {"console", "--port=" + silent.path(), "--timeout=200"},
    };
    for (const std::vector<std::string>& args : runs) {
        QzconfigProcess run(args, true);
        run.type("AT\n");
        run.closeInput();
        EXPECT_EQ(run.wait(), 4) << args[0];
        EXPECT_NE(run.errors().find("got no reply within"), std::string::npos) << args[0] << ": " << run.errors();
    }

    // Ctrl-C while connecting says so; the module's half answer is no scan's.
    FakeModule slow([](const std::string& command) -> Reply {
        return command.rfind("AT+CO", 0) == 0 ? Reply{{{milliseconds(5), "OK+CONNA"}}} : central(command);
    });
    QzconfigProcess stopped({"connect", "--port=" + slow.path(), "--to=0017EA0943AE", "--type=0"}, true);
    std::this_thread::sleep_for(milliseconds(500));
    stopped.signal(SIGINT);
    EXPECT_EQ(stopped.wait(), 130);
    EXPECT_NE(stopped.errors().find("Stopped while connecting to 00:17:EA:09:43:AE"), std::string::npos)
        << stopped.errors();
    EXPECT_EQ(stopped.errors().find("not understood"), std::string::npos) << stopped.errors();
}

TEST(QzconfigTalk, UsageErrorsNameTheOption)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"console"}, "qzconfig: console needs --port=PATH, the module's serial port (see qzconfig console --help)\n"},
        {{"discover", "--port=x", "--timeout=0"},
         "qzconfig: --timeout must be a number of seconds from 1 to 600, not '0' (see qzconfig discover --help)\n"},
        {{"connect", "--port=x"},
         "qzconfig: connect needs --to=ADDRESS, --to=NUMBER or --to=NAME, the device to connect to (see qzconfig "
         "connect --help)\n"},
        {{"connect", "--port=x", "--to=201"},
         "qzconfig: --to must be a device's address (12 hex digits, like 00:17:EA:09:43:AE), its number in the last "
         "discovery, 1 to 200, or its name, not '201' (see qzconfig connect --help)\n"},
        {{"connect", "--port=x", "--to=2", "--type=0"},
         "qzconfig: --type goes with an address in --to; a number or a name takes its type from the discovery (see "
         "qzconfig connect --help)\n"},
        {{"connect", "--port=x", "--to=001122334455", "--type=00"},
         "qzconfig: --type must be one character, the device's type as discover shows it, not '00' (see qzconfig "
         "connect --help)\n"},
        {{"console", "--port=x", "--baud=9601"},
         "qzconfig: --baud must be one of 1200|2400|4800|9600|19200|38400|57600|115200, not '9601' (see qzconfig "
         "console --help)\n"},
    };
    for (const auto& [args, err] : cases) {
        QzconfigProcess qzconfig(args, true);
        EXPECT_EQ(qzconfig.wait(), 2);
        EXPECT_EQ(qzconfig.errors(), err);
        EXPECT_EQ(qzconfig.output(), "");
    }
    QzconfigProcess closed({"console", "--port=/nonexistent/port"}, true);
    EXPECT_EQ(closed.wait(), 3);
    EXPECT_NE(closed.errors().find("cannot open it"), std::string::npos);
}

} // namespace
