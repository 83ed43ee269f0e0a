// The driver on a real pseudo-terminal, against the fake module.

#include "FakeModule.h"
#include "SerialDriver.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>

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
        QTimer::singleShot(30000, &loop, &QEventLoop::quit); // a wide bound, for a loaded machine
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
    std::ifstream file(plainFile);
    EXPECT_EQ(file.peek(), std::ifstream::traits_type::eof()) << "the plain file was written";
}

} // namespace
} // namespace qz

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
