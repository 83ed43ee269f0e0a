// The send session stepped through scripted timelines in simulated time: a scripted
// module answers each write, and every wake-up comes a little early, as coarse timers do.

#include "SendSession.h"

#include <gtest/gtest.h>

#include <functional>
#include <algorithm>
#include <map>

namespace qz::serial {
namespace {

using std::chrono::milliseconds;

// One piece of a reply: its bytes arrive this long after the command was written.
struct Piece {
    milliseconds after;
    std::string bytes;
};
using Module = std::function<std::vector<Piece>(const std::string& written)>;

struct Written {
    Micros at;
    std::string bytes;
    int baudRate;
};

struct Timeline {
    std::vector<Written> writes;
    std::vector<std::string> transcript;
    std::optional<Verdict> verdict;
    Micros end{0};
    std::vector<Micros> rateSwitches;
};

Module answering(std::map<std::string, std::vector<Piece>> special)
{
    return [special](const std::string& written) {
        const auto found = special.find(written);
        if (found != special.end())
            return found->second;
        return std::vector<Piece>{{milliseconds(3), "OK"}};
    };
}

// Plays the session against the module until its verdict. stopAt sends Stop at that time.
Timeline play(std::vector<std::string> commands, const Module& module, SessionSettings settings = {},
         Micros stopAt = Micros::max(), Micros failAt = Micros::max())
{
    SendSession session(std::move(commands), settings);
    Timeline run;
    Micros now{0};
    int baudRate = settings.baudRate;
    std::optional<Micros> wake;
    std::multimap<Micros, std::string> arrivals;
    auto apply = [&](Actions actions) {
        if (actions.setBaudRate) {
            baudRate = *actions.setBaudRate;
            run.rateSwitches.push_back(now);
        }
        if (!actions.write.empty()) {
            run.writes.push_back({now, actions.write, baudRate});
            for (const Piece& piece : module(actions.write))
                arrivals.emplace(now + piece.after, piece.bytes);
        }
        if (actions.wakeAt)
            wake = actions.wakeAt;
        for (const Exchange& exchange : actions.transcript)
            run.transcript.push_back(TranscriptLine(exchange));
        if (actions.verdict)
            run.verdict = actions.verdict;
    };
    apply(session.Start(now));
    for (int step = 0; step < 100000 && !run.verdict; ++step) {
        // A wake-up comes 4% early, as a coarse timer may fire.
        const std::optional<Micros> wakeTime =
            wake ? std::optional<Micros>(*wake - (*wake - now) * 4 / 100) : std::nullopt;
        Micros next = Micros::max();
        if (wakeTime)
            next = *wakeTime;
        if (!arrivals.empty())
            next = std::min(next, arrivals.begin()->first);
        next = std::min({next, stopAt, failAt});
        if (next == Micros::max()) { ADD_FAILURE() << "the session waits for nothing"; break; }
        now = next;
        if (now == failAt) {
            failAt = Micros::max();
            apply(session.PortFailed("hang-up"));
        } else if (now == stopAt) {
            stopAt = Micros::max();
            apply(session.Stop(now));
        } else if (!arrivals.empty() && arrivals.begin()->first == now) {
            apply(session.BytesArrived(now, arrivals.begin()->second));
            arrivals.erase(arrivals.begin());
        } else {
            wake.reset();
            apply(session.TimePassed(now));
        }
    }
    run.end = now;
    return run;
}

std::vector<std::string> writtenBytes(const Timeline& run)
{
    std::vector<std::string> bytes;
    for (const Written& written : run.writes)
        bytes.push_back(written.bytes);
    return bytes;
}

const std::vector<std::string> threeCommands = {"AT+IBEA1", "AT+MARJ0x04D2", "AT+MINO0x04D3"};

TEST(SendSession, EndsWithTheRightVerdictAndSendsNothingAfterAFailure)
{
    struct Case {
        const char* name;
        Module module;
        std::vector<std::string> written;
        Ending ending;
        int taken;
        std::string message;
    };
    const std::vector<Piece> silence;
    const Case cases[] = {
        {"all taken", answering({}), {"AT", "AT+IBEA1", "AT+MARJ0x04D2", "AT+MINO0x04D3"}, Ending::AllTaken, 3,
         "3 of 3 commands were taken"},
        {"ERROR at the second command", answering({{"AT+MARJ0x04D2", {{milliseconds(2), "ERROR"}}}}),
         {"AT", "AT+IBEA1", "AT+MARJ0x04D2"}, Ending::Refused, 1,
         "The module answered AT+MARJ0x04D2 with \"ERROR\"; 1 of 3 commands were taken; the module is partly set up"},
        {"ERROR at the first command", answering({{"AT+IBEA1", {{milliseconds(2), "ERROR"}}}}), {"AT", "AT+IBEA1"},
         Ending::Refused, 0, "The module answered AT+IBEA1 with \"ERROR\"; 0 of 3 commands were taken"},
        {"silence at the last command", answering({{"AT+MINO0x04D3", silence}}), {"AT", "AT+IBEA1", "AT+MARJ0x04D2", "AT+MINO0x04D3"},
         Ending::NoReply, 2,
         "AT+MINO0x04D3 got no reply within 1000 ms; 2 of 3 commands were taken; the module is partly set up"},
        {"probe unanswered", answering({{"AT", silence}}), {"AT"}, Ending::ProbeFailed, 0,
         "The module did not answer AT within 1000 ms, so no command of the list was sent and nothing has changed on the module. "
         "Check the port, the rate (the factory rate is 9600) and that no central device is connected to the "
         "module"},
        {"probe refused", answering({{"AT", {{milliseconds(1), "ERR\xFF"}}}}), {"AT"}, Ending::ProbeFailed, 0,
         "The module answered AT with \"ERR\\xFF\" instead of OK, so no command of the list was sent and nothing has changed on "
         "the module. Check the port, the rate (the factory rate is 9600) and that no central device is "
         "connected to the module"},
        {"a reply that only contains OK", answering({{"AT+IBEA1", {{milliseconds(1), " OK"}}}}), {"AT", "AT+IBEA1"},
         Ending::Refused, 0, "The module answered AT+IBEA1 with \" OK\"; 0 of 3 commands were taken"},
    };
    for (const Case& c : cases) {
        const Timeline run = play(threeCommands, c.module);
        ASSERT_TRUE(run.verdict) << c.name;
        EXPECT_EQ(writtenBytes(run), c.written) << c.name;
        EXPECT_EQ(run.verdict->ending, c.ending) << c.name;
        EXPECT_EQ(run.verdict->taken, c.taken) << c.name;
        EXPECT_EQ(run.verdict->total, 3) << c.name;
        EXPECT_EQ(run.verdict->message, c.message) << c.name;
    }
}

TEST(SendSession, AReplyInPiecesIsOneReplyCompleteAfterTheQuietGap)
{
    const Timeline run = play({"AT+MARJ0x04D2", "AT+MINO0x04D3"},
                         answering({{"AT+MARJ0x04D2",
                                     {{milliseconds(5), "O"}, {milliseconds(40), "K+Se"}, {milliseconds(85), "t:0x04D2"}}}}));
    EXPECT_EQ(run.transcript, (std::vector<std::string>{"> AT", "< OK", "> AT+MARJ0x04D2", "< OK+Set:0x04D2",
                                                         "> AT+MINO0x04D3", "< OK"}));
    ASSERT_EQ(run.writes.size(), 3u);
    // The last piece came 85 ms after the write; the next command waits a full gap after it.
    // The module's replies are complete after 50 ms of quiet.
    EXPECT_GE(run.writes[2].at - run.writes[1].at, milliseconds(85 + 50));
    EXPECT_LE(run.writes[2].at - run.writes[1].at, milliseconds(85 + 50 + 5));
}

TEST(SendSession, AfterRenewTheRateIsTheFactoryRateAndTheModuleGetsItsPause)
{
    SessionSettings settings;
    settings.baudRate = 115200;
    settings.lineEnding = LineEnding::CRLF;
    const Timeline run = play({"AT+RENEW", "AT+NAMELamp (2)", "AT+RESET"},
                         answering({{"AT+RENEW\r\n", {{milliseconds(4), "OK+RE"}, {milliseconds(20), "NEW"}}}}),
                         settings);
    ASSERT_TRUE(run.verdict);
    EXPECT_TRUE(run.verdict->succeeded());
    ASSERT_EQ(run.writes.size(), 4u);
    EXPECT_EQ(run.writes[1].bytes, "AT+RENEW\r\n");
    EXPECT_EQ(run.writes[2].bytes, "AT+NAMELamp (2)\r\n");
    EXPECT_EQ(run.writes[1].baudRate, 115200);
    EXPECT_EQ(run.writes[2].baudRate, 9600);
    EXPECT_EQ(run.writes[3].baudRate, 9600);
    // Never before 500 ms after the reply's last byte, even with every timer early.
    const Micros lastByte = run.writes[1].at + milliseconds(20);
    EXPECT_GE(run.writes[2].at - lastByte, milliseconds(500));
    EXPECT_LE(run.writes[2].at - lastByte, milliseconds(500 + 5));
    // AT+RESET is last: its reply ends the session, with no pause after it.
    EXPECT_EQ(run.end - run.writes[3].at, milliseconds(3 + 50));
    EXPECT_EQ(run.transcript.back(), "< OK");
}

TEST(SendSession, AfterResetTheRateStaysAndOnlyThePauseFollows)
{
    SessionSettings settings;
    settings.baudRate = 115200;
    const Timeline run = play({"AT+RESET", "AT+IBEA1"}, answering({}), settings);
    ASSERT_TRUE(run.verdict);
    EXPECT_TRUE(run.rateSwitches.empty());
    ASSERT_EQ(run.writes.size(), 3u);
    EXPECT_EQ(run.writes[2].baudRate, 115200);
    EXPECT_GE(run.writes[2].at - (run.writes[1].at + milliseconds(3)), milliseconds(500));
}

TEST(SendSession, StopEndsTheSessionAfterTheCurrentReply)
{
    // Stop while the second command waits for its reply: that reply still counts.
    const Timeline waiting = play(threeCommands, answering({{"AT+MARJ0x04D2", {{milliseconds(30), "OK"}}}}), {},
                             milliseconds(120));
    ASSERT_TRUE(waiting.verdict);
    EXPECT_EQ(writtenBytes(waiting), (std::vector<std::string>{"AT", "AT+IBEA1", "AT+MARJ0x04D2"}));
    EXPECT_EQ(waiting.verdict->ending, Ending::Stopped);
    EXPECT_EQ(waiting.verdict->message, "Stopped; 2 of 3 commands were taken; the module is partly set up");

    // Stop during the pause after AT+RENEW: nothing is in flight, so it ends at once.
    const Timeline pausing = play({"AT+RENEW", "AT+IBEA1"}, answering({}), {}, milliseconds(300));
    ASSERT_TRUE(pausing.verdict);
    EXPECT_EQ(pausing.end, milliseconds(300));
    EXPECT_EQ(writtenBytes(pausing), (std::vector<std::string>{"AT", "AT+RENEW"}));
    EXPECT_EQ(pausing.verdict->message, "Stopped; 1 of 2 commands were taken; the module is partly set up");
}

TEST(SendSession, APortFailureEndsTheSessionAtOnce)
{
    const Timeline run = play(threeCommands, answering({{"AT+MARJ0x04D2", {}}}), {}, Micros::max(), milliseconds(200));
    ASSERT_TRUE(run.verdict);
    EXPECT_EQ(run.end, milliseconds(200));
    EXPECT_EQ(run.verdict->ending, Ending::PortFailed);
    EXPECT_EQ(run.verdict->message, "The port failed (hang-up) while waiting for the reply to AT+MARJ0x04D2; "
                                    "1 of 3 commands were taken; the module is partly set up");
    EXPECT_EQ(run.transcript.back(), "> AT+MARJ0x04D2");
}

TEST(SendSession, TheReplyTimeoutCountsFromTheEndOfTheCommandOnTheWire)
{
    SessionSettings settings;
    settings.baudRate = 1200;
    settings.replyTimeout = milliseconds(100);
    const std::string longCommand = "AT+NAME" + std::string(15, 'N'); // 22 bytes: 183 ms at 1200 baud
    const Timeline run = play({longCommand}, answering({{longCommand, {{milliseconds(250), "OK"}}}}), settings);
    ASSERT_TRUE(run.verdict);
    EXPECT_TRUE(run.verdict->succeeded()) << run.verdict->message;
    const Timeline late = play({longCommand}, answering({{longCommand, {{milliseconds(290), "OK"}}}}), settings);
    ASSERT_TRUE(late.verdict);
    EXPECT_EQ(late.verdict->ending, Ending::NoReply);
    EXPECT_EQ(late.transcript.back(), "< (no reply)");
}

// A reply of count pieces, one every interval from the first, each of these bytes.
std::vector<Piece> stream(int count, milliseconds interval, const std::string& bytes)
{
    std::vector<Piece> pieces;
    for (int i = 0; i < count; ++i)
        pieces.push_back({milliseconds(2) + interval * i, bytes});
    return pieces;
}

TEST(SendSession, AMisbehavingModuleEndsTheSessionWithinItsBoundsAndNothingFollows)
{
    struct Case {
        const char* name;
        Module module;
        Micros stopAt;
        std::vector<std::string> written;
        Ending ending;
        std::string message;
        std::string lastTranscriptLine;
        Micros endsBy;
    };
    const std::string longReply = "ERROR:" + std::string(94, 'x');
    const Case cases[] = {
        {"a flood at the probe", answering({{"AT", stream(100000, milliseconds(1), "0123456789abcdef")}}),
         Micros::max(), {"AT"}, Ending::ProbeFailed,
         "The module kept sending in reply to AT: 272 bytes in 16 ms, beginning \"0123456789abcdef0123456789abcdef"
         "0123456789abcdef0123456789abcdef...\" (272 bytes); no command of the list was sent. Check the rate (the "
         "factory rate is 9600) and that no central device is connected to the module",
         "< 0123456789abcdef", milliseconds(20)},
        {"a drip faster than the quiet gap", answering({{"AT+MARJ0x04D2", stream(1000, milliseconds(40), "K")}}),
         Micros::max(), {"AT", "AT+IBEA1", "AT+MARJ0x04D2"}, Ending::Refused,
         "The module kept sending in reply to AT+MARJ0x04D2: 76 bytes in 3000 ms, beginning \"" + std::string(64, 'K')
             + "...\" (76 bytes); 1 of 3 commands were taken; the module is partly set up",
         "< " + std::string(76, 'K'), milliseconds(3200)},
        {"Stop in a reply that never ends", answering({{"AT+IBEA1", stream(1000, milliseconds(40), "K")}}),
         milliseconds(500), {"AT", "AT+IBEA1"}, Ending::Refused, "", "", milliseconds(3100)},
        {"Stop while a slow reply is awaited", answering({{"AT+IBEA1", {}}}), milliseconds(100), {"AT", "AT+IBEA1"},
         Ending::Stopped, "Stopped while waiting for the reply to AT+IBEA1; 0 of 3 commands were taken",
         "> AT+IBEA1", milliseconds(3100)},
        {"a long refusal is quoted by its first bytes",
         answering({{"AT+IBEA1", {{milliseconds(2), longReply}}}}), Micros::max(), {"AT", "AT+IBEA1"},
         Ending::Refused,
         "The module answered AT+IBEA1 with \"" + longReply.substr(0, 64) + "...\" (100 bytes); 0 of 3 commands "
         "were taken",
         "< " + longReply, milliseconds(200)},
    };
    for (const Case& c : cases) {
        SessionSettings settings;
        settings.replyTimeout = milliseconds(60000);
        const Timeline run = play(threeCommands, c.module, settings, c.stopAt);
        ASSERT_TRUE(run.verdict) << c.name;
        EXPECT_EQ(writtenBytes(run), c.written) << c.name;
        EXPECT_EQ(run.verdict->ending, c.ending) << c.name;
        if (!c.message.empty()) {
            EXPECT_EQ(run.verdict->message, c.message) << c.name;
        }
        if (!c.lastTranscriptLine.empty()) {
            EXPECT_EQ(run.transcript.back().substr(0, c.lastTranscriptLine.size()), c.lastTranscriptLine) << c.name;
        }
        EXPECT_LE(run.end, c.endsBy) << c.name;
    }
}

TEST(SendSession, AHangUpInTheMiddleOfAReplyShowsTheBytesThatCame)
{
    const Timeline run = play(threeCommands, answering({{"AT+IBEA1", {{milliseconds(2), "OK+Se"}}}}), {},
                              Micros::max(), milliseconds(90));
    ASSERT_TRUE(run.verdict);
    EXPECT_EQ(run.verdict->ending, Ending::PortFailed);
    EXPECT_EQ(run.transcript, (std::vector<std::string>{"> AT", "< OK", "> AT+IBEA1", "< OK+Se"}));
    EXPECT_EQ(run.verdict->message, "The port failed (hang-up) while waiting for the reply to AT+IBEA1; 0 of 3 "
                                    "commands were taken");
}

TEST(SendSession, AReplyIsNotCompleteWhileItsCommandIsStillOnTheWire)
{
    // A module that answers at the first byte: at 1200 baud AT+RENEW takes 83 ms to send,
    // so the reply may not count as complete (and the rate may not change) before that.
    SessionSettings settings;
    settings.baudRate = 1200;
    settings.lineEnding = LineEnding::CRLF;
    const Timeline run = play({"AT+RENEW", "AT+IBEA1"},
                              [](const std::string&) { return std::vector<Piece>{{milliseconds(1), "OK"}}; }, settings);
    ASSERT_TRUE(run.verdict);
    ASSERT_EQ(run.writes.size(), 3u);
    ASSERT_EQ(run.rateSwitches.size(), 1u);
    EXPECT_GE(run.rateSwitches[0] - run.writes[1].at, Micros(83333));
    EXPECT_LE(run.rateSwitches[0] - run.writes[1].at, milliseconds(90));
    EXPECT_EQ(run.writes[2].baudRate, 9600);
}

TEST(SendSession, AStopBeforeAWriteKeepsTheWriteFromHappening)
{
    SendSession session(threeCommands, {});
    Actions started = session.Start(Micros(0));
    EXPECT_EQ(started.write, "AT");
    Actions reply = session.BytesArrived(milliseconds(5), "OK");
    Actions complete = session.TimePassed(milliseconds(60));
    // The reply is reported in one step, the next command goes in the next.
    EXPECT_TRUE(complete.write.empty());
    EXPECT_EQ(complete.transcript.size(), 1u);
    ASSERT_TRUE(complete.wakeAt);
    const Actions stopped = session.Stop(milliseconds(60));
    ASSERT_TRUE(stopped.verdict);
    EXPECT_TRUE(stopped.write.empty());
    EXPECT_EQ(stopped.verdict->message, "Stopped; 0 of 3 commands were taken");

    SendSession withheld(threeCommands, {});
    withheld.Start(Micros(0));
    withheld.BytesArrived(milliseconds(5), "OK");
    withheld.TimePassed(milliseconds(60));
    EXPECT_EQ(withheld.TimePassed(milliseconds(60)).write, "AT+IBEA1");
    const Actions ended = withheld.WriteWithheld();
    ASSERT_TRUE(ended.verdict);
    EXPECT_EQ(ended.verdict->message, "Stopped before AT+IBEA1 was sent; 0 of 3 commands were taken");
}

TEST(SendSession, MessagesEscapeTheCommandsTheyQuote)
{
    const std::string named = "AT+NAME\x1B[2J";
    const Timeline run = play({"AT+NAME\x1B[2J"}, answering({{"AT+NAME\x1B[2J", {{milliseconds(2), "ERROR"}}}}));
    ASSERT_TRUE(run.verdict);
    EXPECT_EQ(run.verdict->message, "The module answered AT+NAME\\x1B[2J with \"ERROR\"; 0 of 1 commands were taken");
    EXPECT_EQ(TakenSummary(1, 2), "1 of 2 commands were taken; the module is partly set up");
    EXPECT_EQ(TakenSummary(2, 2), "2 of 2 commands were taken");
}

TEST(SendSession, TranscriptEscapesControlAndHighBytes)
{
    EXPECT_EQ(TranscriptLine({Exchange::Replied, std::string("OK\r\n\x7F\x80~ \0", 9), true}),
              "< OK\\x0D\\x0A\\x7F\\x80~ \\x00");
    EXPECT_EQ(TranscriptLine({Exchange::Sent, "AT+NAMELamp (2)", false}), "> AT+NAMELamp (2)");
}

} // namespace
} // namespace qz::serial

namespace qz::serial {
namespace {

// Text as text: valid UTF-8 shows as it is; control bytes, invalid bytes and what nobody
// can see are escaped, so that two names differing only there differ as shown.
TEST(SendSession, BytesAreShownAsTextWhereTheyAreText)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Caf\xC3\xA9", "Caf\xC3\xA9"},
        {"K\xC3\xBC" "che", "K\xC3\xBC" "che"},
        {"K\xFC" "che", "K\\xFC" "che"},               // Latin-1, no UTF-8
        {"Caf\xC3", "Caf\\xC3"},                        // a sequence cut short
        {"\xEF\xBB\xBFLamp", "\\xEF\\xBB\\xBFLamp"},      // a byte-order mark
        {"Lamp\xE2\x80\x8B", "Lamp\\xE2\\x80\\x8B"},      // a zero-width space
        {"a\x7F\x1B", "a\\x7F\\x1B"},
    };
    for (const auto& [bytes, shown] : cases)
        EXPECT_EQ(EscapedBytes(bytes), shown) << shown;
}

// A reply is taken only when it says yes: OK, or OK+ with the value sent echoed.
TEST(SendSession, AReplyIsTakenOnlyWhenItMeansYes)
{
    struct Case {
        const char* command;
        const char* reply;
        bool taken;
    };
    const Case cases[] = {
        {"AT+ADDR000E0B000001", "OK", true},
        {"AT+ADDR000E0B000001", "OK+Set:000E0B000001", true},
        {"AT+ADDR000E0B000001", "OK+Set:000e0b000001\r\n", true},
        {"AT+MINO0x00FE", "OK+Set:0x00FE", true},
        {"AT+MINO0x00FE", "OK+Set:00FE", true},
        {"AT+IBE012345678", "OK+Set:12345678", true},
        {"AT+NAMELamp-01", "OK+Set:Lamp-01", true},
        {"AT+RENEW", "OK+RENEW", true},
        {"AT+ADDR000E0B000001", "OK+Set:000000000000", false},
        {"AT+MINO0x00FE", "OK+Set:0x00FF", false},
        {"AT+NAMELamp-01", "OK+Set:Lamp-02", false},
        {"AT+IBE012345678", "OK+Set:2345678", false},
        {"AT+ADDR000E0B000001", "OKERROR", false},
        {"AT+ADDR000E0B000001", "OK+FAIL", false},
        {"AT+ADDR000E0B000001", "OK+ERR", false},
        {"AT+ADDR000E0B000001", "O\xCB+Set:000E0B000001", false},
        {"AT+ADDR000E0B000001", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReplyMeansYes(c.command, c.reply), c.taken) << c.command << " " << c.reply;
}

// Sent is carried: the verdict counts the commands that left the port, answered or not.
TEST(SendSession, TheVerdictCountsWhatWasSentBesideWhatWasTaken)
{
    const std::vector<std::string> list = {"AT+RENEW", "AT+ADDR000E0B000002", "AT+RESET"};
    const std::vector<Piece> silence;
    struct Case {
        const char* name;
        Module module;
        int sent;
        int taken;
    };
    const Case cases[] = {
        {"its reply lost", answering({{"AT+ADDR000E0B000002", silence}}), 2, 1},
        {"garbled", answering({{"AT+ADDR000E0B000002", {{milliseconds(2), "O\xCB+Set:000E0B000002"}}}}), 2, 1},
        {"another address echoed", answering({{"AT+ADDR000E0B000002", {{milliseconds(2), "OK+Set:000000000000"}}}}), 2,
         1},
        {"refused before it", answering({{"AT+RENEW", {{milliseconds(2), "ERROR"}}}}), 1, 0},
        {"all taken", answering({}), 3, 3},
    };
    for (const Case& c : cases) {
        const Timeline run = play(list, c.module);
        ASSERT_TRUE(run.verdict) << c.name;
        EXPECT_EQ(run.verdict->sent, c.sent) << c.name;
        EXPECT_EQ(run.verdict->taken, c.taken) << c.name;
    }
}

// Asked to, the session asks the module its address after the probe and waits for its
// owner before the list: the list goes out, or nothing does.
TEST(SendSession, AModuleIsAskedItsAddressBeforeItsList)
{
    SessionSettings asking;
    asking.askModuleAddress = true;
    struct Case {
        const char* reply;
        std::string address;
        std::string why;
    };
    const Case cases[] = {
        {"OK+ADDR:00170a09e4ae", "00170A09E4AE", ""},
        {"OK+ADDR:00:17:EA:09:43:AE\r\n", "0017EA0943AE", ""},
        {"OK+Get:0017EA0943AE", "0017EA0943AE", ""},
        {"OK+ADDR:0017EA0943:AE", "", "it answered AT+ADDR? with \"OK+ADDR:0017EA0943:AE\", not OK+ADDR: and 12 hex digits"},
        {"OK", "", "it answered AT+ADDR? with \"OK\", not OK+ADDR: and 12 hex digits"},
        {"OK+ADDR:0017", "", "it answered AT+ADDR? with \"OK+ADDR:0017\", not OK+ADDR: and 12 hex digits"},
    };
    for (const Case& c : cases) {
        SendSession session({"AT+IBEA1"}, asking);
        EXPECT_EQ(session.Start(Micros(0)).transcript.at(0).role, Exchange::Probe);
        session.BytesArrived(Micros(5000), "OK");
        EXPECT_EQ(session.TimePassed(Micros(60000)).write, "");
        const Actions question = session.TimePassed(Micros(60000));
        EXPECT_EQ(question.write, "AT+ADDR?");
        EXPECT_EQ(question.transcript.at(0).role, Exchange::Question);
        session.BytesArrived(Micros(70000), c.reply);
        const Actions told = session.TimePassed(Micros(130000));
        ASSERT_TRUE(told.identified) << c.reply;
        EXPECT_EQ(told.identified->address, c.address);
        EXPECT_EQ(told.identified->why, c.why);
        EXPECT_FALSE(told.wakeAt);
        EXPECT_EQ(session.TimePassed(Micros(900000)).write, ""); // it waits for its owner
        // The owner may give the list it chose once it knew the module.
        const Actions listed = session.Proceed(Micros(900000), {{"AT+MINO0x0002", "AT+RESET"}});
        EXPECT_EQ(listed.write, "AT+MINO0x0002");
        EXPECT_EQ(listed.transcript.at(0).role, Exchange::ListCommand);
        EXPECT_EQ(session.total(), 2);
    }
    SendSession known({"AT+IBEA1"}, asking);
    known.Start(Micros(0));
    known.BytesArrived(Micros(5000), "OK");
    known.TimePassed(Micros(60000));
    known.TimePassed(Micros(60000));
    known.TimePassed(Micros(2000000)); // AT+ADDR? unanswered: told, without an address
    const Actions ended = known.Withdraw("this is module 2 of the record");
    ASSERT_TRUE(ended.verdict);
    EXPECT_EQ(ended.verdict->ending, Ending::Withdrawn);
    EXPECT_EQ(ended.verdict->sent, 0);
}

} // namespace
} // namespace qz::serial
