// The driver on a real pseudo-terminal, against the fake module.

#include "FakeModule.h"
#include "PortList.h"
#include "PortSystem.h"
#include "SerialDriver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

namespace qz {
namespace {

using std::chrono::milliseconds;
using test::FakeModule;

struct Session {
    std::string openProblem;
    std::vector<std::string> transcript;
    std::optional<serial::Verdict> verdict;
};

Session runSession(const std::string& port, const std::vector<std::string>& commands,
                   serial::SessionSettings settings = {})
{
    SerialDriver driver;
    Session session;
    QEventLoop loop;
    QObject::connect(&driver, &SerialDriver::exchanged,
                     [&](const serial::Exchange& exchange) { session.transcript.push_back(serial::TranscriptLine(exchange)); });
    QObject::connect(&driver, &SerialDriver::finished, [&](const serial::Verdict& verdict) {
        session.verdict = verdict;
        loop.quit();
    });
    session.openProblem = driver.start(port, commands, settings);
    if (session.openProblem.empty()) {
        // Every session here ends within seconds; a wide bound for a loaded machine, and a
        // session that never ends fails the test instead of hanging it.
        QTimer::singleShot(12000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return session;
}

const std::vector<std::string> beaconCommands = {
    "AT+RENEW", "AT+IBEA1", "AT+IBE00000FFF0", "AT+IBE100001000", "AT+IBE280000080", "AT+IBE35F9B34FB",
    "AT+MARJ0x278B", "AT+MINO0x278D"};

TEST(SerialDriver, SendsEveryCommandAndStopsAtTheFirstFailure)
{
    struct Case {
        const char* name;
        FakeModule::Script script;
        std::size_t received;
        serial::Ending ending;
        std::string lastTranscriptLine;
    };
    const Case cases[] = {
        {"all OK", [](const std::string&) { return FakeModule::ok(); }, 9, serial::Ending::AllTaken, "< OK"},
        {"ERROR at the fourth",
         [](const std::string& command) {
             return command == "AT+IBE100001000" ? FakeModule::ok("ERROR") : FakeModule::ok();
         },
         5, serial::Ending::Refused, "< ERROR"},
        {"hang-up in the middle",
         [](const std::string& command) {
             return command == "AT+IBE00000FFF0" ? FakeModule::Reply{{}, true} : FakeModule::ok();
         },
         4, serial::Ending::PortFailed, "> AT+IBE00000FFF0"},
        {"silent", [](const std::string&) { return FakeModule::Reply{}; }, 1, serial::Ending::ProbeFailed,
         "< (no reply)"},
    };
    for (const Case& c : cases) {
        FakeModule module(c.script);
        const Session session = runSession(module.path(), beaconCommands);
        ASSERT_TRUE(session.verdict) << c.name << session.openProblem;
        EXPECT_EQ(session.verdict->ending, c.ending) << c.name << ": " << session.verdict->message;
        const std::vector<std::string> expected(
            beaconCommands.begin(), beaconCommands.begin() + static_cast<std::ptrdiff_t>(c.received - 1));
        std::vector<std::string> received = module.commands();
        ASSERT_FALSE(received.empty()) << c.name;
        EXPECT_EQ(received.front(), "AT") << c.name;
        received.erase(received.begin());
        EXPECT_EQ(received, expected) << c.name;
        EXPECT_EQ(session.transcript.back(), c.lastTranscriptLine) << c.name;
    }
}

TEST(SerialDriver, GoesOnAtTheFactoryRateAfterRenewAndWaitsForTheRestart)
{
    FakeModule module([](const std::string& command) {
        if (command == "AT+RENEW")
            return FakeModule::Reply{{{milliseconds(2), "OK+RE"}, {milliseconds(30), "NEW"}}};
        return FakeModule::ok();
    });
    serial::SessionSettings settings;
    settings.baudRate = 115200;
    settings.lineEnding = serial::LineEnding::CRLF;
    const Session session = runSession(module.path(), {"AT+RENEW", "AT+NAMELamp (2)", "AT+RESET"}, settings);
    ASSERT_TRUE(session.verdict);
    EXPECT_TRUE(session.verdict->succeeded()) << session.verdict->message;
    const std::vector<FakeModule::Received> received = module.received();
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[1].bytes, "AT+RENEW\r\n");
    EXPECT_EQ(received[2].bytes, "AT+NAMELamp (2)\r\n");
    EXPECT_EQ(received[1].baudRate, 115200);
    EXPECT_EQ(received[2].baudRate, 9600);
    const auto renewReplyEnd = module.replyEnds().at(1);
    EXPECT_GE(received[2].firstByte - renewReplyEnd, serial::RestartPause);
    EXPECT_EQ(session.transcript[3], "< OK+RENEW");
}

TEST(SerialDriver, AMisbehavingModuleEndsTheSessionInTimeWithNothingSentAfter)
{
    struct Case {
        const char* name;
        FakeModule::Script script;
        std::vector<std::string> received; // after the probe
        serial::Ending ending;
        std::string messageStart;
        std::string lastTranscriptLine;
    };
    const auto at = [](const std::string& trigger, FakeModule::Reply reply) {
        return [=](const std::string& command) { return command == trigger ? reply : FakeModule::ok(); };
    };
    const Case cases[] = {
        {"a flood at the probe", at("AT", FakeModule::endless("0123456789", milliseconds(0))), {},
         serial::Ending::ProbeFailed, "The module kept sending in reply to AT: ", "< 0123456789"},
        {"a drip faster than the quiet gap", at("AT+IBEA1", FakeModule::endless("K", milliseconds(20))),
         {"AT+RENEW", "AT+IBEA1"}, serial::Ending::Refused, "The module kept sending in reply to AT+IBEA1: ", "< KK"},
        {"a hang-up in the middle of a reply",
         at("AT+IBEA1", FakeModule::Reply{{{milliseconds(1), "OK+Se"}}, true}), {"AT+RENEW", "AT+IBEA1"},
         serial::Ending::PortFailed,
         "The port failed (the port was closed or unplugged) while waiting for the reply to AT+IBEA1; 1 of 8",
         "< OK+Se"},
        {"an echo", [](const std::string& command) { return FakeModule::ok(command); }, {}, serial::Ending::ProbeFailed,
         "The module answered AT with \"AT\" instead of OK, so no command of the list was sent", "< AT"},
    };
    for (const Case& c : cases) {
        FakeModule module(c.script);
        const auto began = std::chrono::steady_clock::now();
        const Session session = runSession(module.path(), beaconCommands);
        ASSERT_TRUE(session.verdict) << c.name << session.openProblem;
        EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5)) << c.name;
        EXPECT_EQ(session.verdict->ending, c.ending) << c.name;
        EXPECT_EQ(session.verdict->message.substr(0, c.messageStart.size()), c.messageStart) << c.name;
        EXPECT_EQ(session.transcript.back().substr(0, c.lastTranscriptLine.size()), c.lastTranscriptLine) << c.name;
        std::this_thread::sleep_for(milliseconds(60)); // anything written late would arrive by now
        std::vector<std::string> received = module.commands();
        ASSERT_FALSE(received.empty()) << c.name;
        received.erase(received.begin());
        EXPECT_EQ(received, c.received) << c.name;
    }
}

TEST(SerialDriver, StopEndsASessionEvenInAReplyThatNeverEnds)
{
    FakeModule module([](const std::string& command) {
        return command == "AT+RENEW" ? FakeModule::endless("x", milliseconds(10)) : FakeModule::ok();
    });
    SerialDriver driver;
    std::optional<serial::Verdict> verdict;
    QEventLoop loop;
    QObject::connect(&driver, &SerialDriver::finished, [&](const serial::Verdict& v) {
        verdict = v;
        loop.quit();
    });
    ASSERT_EQ(driver.start(module.path(), beaconCommands, {}), "");
    QTimer::singleShot(300, &driver, &SerialDriver::stop);
    QTimer::singleShot(12000, &loop, &QEventLoop::quit);
    const auto began = std::chrono::steady_clock::now();
    loop.exec();
    ASSERT_TRUE(verdict);
    EXPECT_LT(std::chrono::steady_clock::now() - began, serial::StopWait + std::chrono::seconds(1));
    EXPECT_FALSE(driver.running());
    EXPECT_EQ(module.commands(), (std::vector<std::string>{"AT", "AT+RENEW"}));
}

TEST(SerialDriver, EverySpellingOfADeviceSharesOneLock)
{
    FakeModule module([](const std::string&) { return FakeModule::Reply{{{milliseconds(150), "OK"}}}; });
    const std::string folder = testing::TempDir() + "qz-ports";
    std::filesystem::create_directories(folder);
    const std::string symlink = folder + "/module\xFE\x1B";
    std::filesystem::remove(symlink);
    std::filesystem::create_symlink(module.path(), symlink);
    const std::string pts = module.path().substr(module.path().rfind('/') + 1);
    const std::string spellings[] = {symlink, "/dev/pts/../pts//" + pts};

    SerialDriver holder;
    ASSERT_EQ(holder.start(module.path(), beaconCommands, {}), "");
    for (const std::string& spelling : spellings) {
        SerialDriver second;
        const std::string problem = second.start(spelling, {"AT+RENEW"}, {});
        // The holder is named by its process and program: this very test.
        EXPECT_EQ(problem, "busy: another program holds it (process " + std::to_string(QCoreApplication::applicationPid())
                               + ", " + QCoreApplication::applicationName().toStdString() + ")")
            << spelling;
    }
    holder.stop();
    QEventLoop loop;
    QObject::connect(&holder, &SerialDriver::finished, &loop, &QEventLoop::quit);
    if (holder.running())
        loop.exec();
    EXPECT_EQ(module.commands(), (std::vector<std::string>{"AT"}));
    // Once the port is free, a name that is not valid UTF-8 still reaches it.
    const Session session = runSession(symlink, {"AT+IBEA1"});
    ASSERT_TRUE(session.verdict) << session.openProblem;
    EXPECT_TRUE(session.verdict->succeeded()) << session.verdict->message;
}

TEST(SerialDriver, APortThatCannotBeOpenedIsNeverWritten)
{
    const std::string plainFile = testing::TempDir() + "qz-not-a-port";
    std::ofstream(plainFile) << "";
    struct Case {
        std::string port;
        std::string problem;
    };
    const Case cases[] = {
        {"/dev/qz-no-such-port", "no such device"},
        {plainFile, "not a serial device"},
        {testing::TempDir(), "not a serial device"},
        {"/dev/null", "not a serial device"},
    };
    for (const Case& c : cases) {
        const Session session = runSession(c.port, beaconCommands);
        EXPECT_EQ(session.openProblem, c.problem) << c.port;
        EXPECT_FALSE(session.verdict) << c.port;
    }
    const SerialDriver idle;
    EXPECT_EQ(idle.taken() + idle.total() + idle.baudRate(), 0);
    EXPECT_FALSE(idle.running());
    std::ifstream file(plainFile);
    EXPECT_EQ(file.peek(), std::ifstream::traits_type::eof()) << "the plain file was written";
}

// What the system says of a port's name: the device behind it, which changes when a link
// moves to another adapter, and nothing when there is none.
TEST(PortSystem, TellsTheDeviceBehindANameAndWhenItIsGone)
{
    FakeModule first;
    FakeModule second;
    const std::string link = testing::TempDir() + "qz-port-behind";
    std::filesystem::remove(link);
    EXPECT_EQ(portsystem::DeviceBehind(link), "");
    EXPECT_TRUE(portsystem::DeviceIsGone(QString::fromStdString(link)));
    std::filesystem::create_symlink(first.path(), link);
    const std::string behind = portsystem::DeviceBehind(link);
    EXPECT_EQ(behind.rfind(first.path() + "@", 0), 0u) << behind;
    EXPECT_EQ(behind, portsystem::DeviceBehind(first.path()));
    EXPECT_FALSE(portsystem::DeviceIsGone(QString::fromStdString(link)));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.path(), link);
    EXPECT_NE(portsystem::DeviceBehind(link), behind);
    EXPECT_EQ(portsystem::DeviceBehind("null").rfind("/dev/null@", 0), 0u); // a bare name is one in /dev
    const portsystem::ResolvedPort resolved = portsystem::Resolve("/dev/../dev//null");
    EXPECT_EQ(resolved.path, QStringLiteral("/dev/null"));
    EXPECT_EQ(resolved.problem, "");
    EXPECT_EQ(portsystem::Resolve("qz-no-such-port").problem, "no such device");
    std::filesystem::remove(link);
}

// A port in a folder the user may not enter is refused as such, before anything opens it.
// Root enters every folder, so as root the check runs as nobody in a child process.
TEST(PortSystem, AFolderThatCannotBeEnteredSaysPermissionDenied)
{
    const std::string folder = testing::TempDir() + "qz-closed";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/port") << "";
    chmod(folder.c_str(), 0);
    const std::string port = folder + "/port";
    int status = -1;
    if (geteuid() != 0) {
        status = portsystem::Resolve(port).problem == "permission denied" ? 0 : 1;
    } else if (const pid_t child = fork(); child == 0) {
        _exit(setuid(65534) != 0 ? 2 : portsystem::Resolve(port).problem == "permission denied" ? 0 : 1);
    } else {
        waitpid(child, &status, 0);
        status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    chmod(folder.c_str(), 0700);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(status, 0);
}

TEST(PortList, DetailsTellOneAdapterFromAnother)
{
    struct Case {
        PortInfo port;
        const char* details;
    };
    const Case cases[] = {
        {{"/dev/ttyUSB0", "CP2102 USB to UART", "10C4:EA60", "0001"}, "CP2102 USB to UART, USB 10C4:EA60, serial 0001"},
        {{"/dev/ttyUSB1", "", "1A86:7523", ""}, "USB 1A86:7523"},
        {{"/dev/ttyACM0", "", "", "A5B6"}, "serial A5B6"},
        {{"/dev/ttyS0", "", "", ""}, ""},
    };
    std::vector<PortInfo> ports;
    for (const Case& c : cases) {
        EXPECT_EQ(PortDetails(c.port), c.details) << c.port.name;
        ports.push_back(c.port);
    }
    std::reverse(ports.begin(), ports.end());
    PutUsbFirst(ports); // USB adapters first, each group in the system's order
    std::vector<std::string> names;
    for (const PortInfo& port : ports)
        names.push_back(port.name);
    EXPECT_EQ(names, (std::vector<std::string>{"/dev/ttyUSB1", "/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyACM0"}));
    EXPECT_EQ(UsbId(0x10C4, 0xEA60), "10C4:EA60");
    EXPECT_EQ(UsbId(0x0403, 0x6001), "0403:6001");
    for (const PortInfo& port : AvailablePorts())
        EXPECT_FALSE(port.name.empty());
}

} // namespace
} // namespace qz

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
