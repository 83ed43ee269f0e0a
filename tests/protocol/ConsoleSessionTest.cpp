// Typed commands, discoveries and connections stepped through scripted timelines in
// simulated time: a scripted module answers each write with pieces at set times.

#include "ConsoleSession.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace qz::serial {
namespace {

using std::chrono::milliseconds;

struct Piece {
    milliseconds after; // since the write
    std::string bytes;
};
using Module = std::function<std::vector<Piece>(const std::string& written)>;
using Operation = std::function<TalkActions(ConsoleSession&, Micros now)>;

struct Timeline {
    std::vector<std::string> writes;
    std::vector<std::string> transcript; // understood answers as "< ...", the rest as "? ..."
    std::vector<std::string> devices;    // "TYPE ADDRESS NAME", the name "-" when unknown
    std::optional<Micros> firstFound;
    std::string relayed;
    std::optional<TalkOutcome> outcome;
    Micros end{0};
};

std::string deviceLine(const FoundDevice& device)
{
    return std::string(1, device.type) + " " + device.address + " " + device.name.value_or("-");
}

// Runs one operation against the module until its outcome; stopAt asks to stop then.
Timeline play(ConsoleSession& session, const Operation& operation, const Module& module,
              Micros stopAt = Micros::max())
{
    Timeline run;
    Micros now{0};
    std::optional<Micros> wake;
    std::multimap<Micros, std::string> arrivals;
    auto apply = [&](TalkActions actions) {
        if (!actions.write.empty()) {
            run.writes.push_back(actions.write);
            for (const Piece& piece : module(actions.write))
                arrivals.emplace(now + piece.after, piece.bytes);
        }
        wake = actions.wakeAt;
        for (const Exchange& exchange : actions.transcript) {
            const bool unparsed = exchange.kind == Exchange::Replied && !exchange.taken;
            run.transcript.push_back(unparsed ? "? " + EscapedBytes(exchange.bytes) : TranscriptLine(exchange));
        }
        for (const FoundDevice& device : actions.found) {
            run.devices.push_back(deviceLine(device));
            run.firstFound = run.firstFound.value_or(now);
        }
        run.relayed += actions.relayed;
        if (actions.outcome) {
            run.outcome = actions.outcome;
            run.end = now;
        }
    };
    apply(operation(session, now));
    for (int step = 0; step < 100000 && !run.outcome; ++step) {
        Micros next = std::min(stopAt, wake.value_or(Micros::max()));
        if (!arrivals.empty())
            next = std::min(next, arrivals.begin()->first);
        if (next == Micros::max())
            break;
        now = next;
        if (!arrivals.empty() && arrivals.begin()->first == now) {
            const std::string bytes = arrivals.begin()->second;
            arrivals.erase(arrivals.begin());
            apply(session.BytesArrived(now, bytes));
        } else if (now == stopAt) {
            stopAt = Micros::max();
            apply(session.Stop());
        } else {
            wake.reset();
            apply(session.TimePassed(now));
        }
    }
    return run;
}

Module answering(std::vector<Piece> pieces)
{
    return [pieces](const std::string&) { return pieces; };
}

Operation discover()
{
    return [](ConsoleSession& session, Micros now) { return session.Discover(now); };
}

// Pieces every interval from start on, for a while.
std::vector<Piece> stream(const std::string& bytes, int count, milliseconds interval)
{
    std::vector<Piece> pieces;
    for (int i = 1; i <= count; ++i)
        pieces.push_back({interval * i, bytes});
    return pieces;
}

struct DiscoveryCase {
    const char* name;
    std::vector<Piece> pieces;
    TalkEnd end;
    std::vector<std::string> devices;
    std::vector<std::string> unparsed;
};

TEST(ConsoleSessionTest, DiscoveryListsWhatTheModuleHeard)
{
    const milliseconds ms(1);
    std::vector<Piece> many{{ms * 5, "OK+DISCS"}};
    for (int i = 0; i < 206; ++i)
        many.push_back({ms * (10 + i), "OK+DIS0" + std::string(9, '0') + std::to_string(100 + i) + "\r\n"});
    many.push_back({ms * 300, "OK+DISCE"});
    const std::vector<DiscoveryCase> cases = {
        {"two devices in one read",
         {{ms * 5, "OK+DISCSOK+DIS000112233445aLamp-01\r\nOK+DIS1AABBCCDDEEFFOK+DISCE"}},
         TalkEnd::Discovered, {"0 00112233445A Lamp-01", "1 AABBCCDDEEFF -"}, {}},
        {"split inside every word",
         {{ms * 5, "OK+DI"}, {ms * 20, "SCSOK+DIS000112"}, {ms * 30, "2334455Lamp-01OK+D"}, {ms * 40, "ISCE"}},
         TalkEnd::Discovered, {"0 001122334455 Lamp-01"}, {}},
        {"a pause inside the address",
         {{ms * 5, "OK+DISCSOK+DIS0001122"}, {ms * 300, "334455Bob"}, {ms * 600, "OK+DISCE"}},
         TalkEnd::Discovered, {"0 001122334455 Bob"}, {}},
        {"no device", {{ms * 5, "OK+DISCS\r\n"}, {ms * 900, "OK+DISCE\r\n"}}, TalkEnd::Discovered, {}, {}},
        {"a pause inside the end", {{ms * 5, "OK+DISCSOK+DIS0001122334455A\r\nOK+DISC"}, {ms * 300, "E"}},
         TalkEnd::Discovered, {"0 001122334455 A"}, {}},
        {"garbage between entries",
         {{ms * 5, "OK+DISCS\r\nnoise!\r\nOK+DIS0001122334455X\r\n\x01OK+DIS2665544332211\r\nOK+DISCE"}},
         TalkEnd::Discovered, {"0 001122334455 X", "2 665544332211 -"}, {"noise!", "\\x01"}},
        {"one device twice", {{ms * 5, "OK+DISCSOK+DIS0001122334455AOK+DIS0001122334455BOK+DISCE"}},
         TalkEnd::Discovered, {"0 001122334455 A"}, {}},
        {"never finished", {{ms * 5, "OK+DISCSOK+DIS0001122334455Lamp"}}, TalkEnd::DiscoveryUnfinished,
         {"0 001122334455 Lamp"}, {}},
        {"refused", {{ms * 5, "ERROR"}}, TalkEnd::DiscoveryRefused, {}, {"ERROR"}},
        {"silent", {}, TalkEnd::NoReply, {}, {}},
        // Noise is no start of a scan; it is cut at the reply's time bound.
        {"endless noise", stream("\xff\xfe", 3000, ms * 10), TalkEnd::DiscoveryRefused, {}, {}},
    };
    for (const DiscoveryCase& row : cases) {
        SCOPED_TRACE(row.name);
        ConsoleSession session({});
        const Timeline run = play(session, discover(), answering(row.pieces));
        ASSERT_TRUE(run.outcome);
        EXPECT_EQ(run.outcome->end, row.end) << run.outcome->message;
        EXPECT_EQ(run.writes, std::vector<std::string>{"AT+DISC?"});
        EXPECT_EQ(run.devices, row.devices);
        std::vector<std::string> unparsed;
        for (const std::string& line : run.transcript) {
            if (line.rfind("? ", 0) == 0)
                unparsed.push_back(line.substr(2));
        }
        if (row.end != TalkEnd::DiscoveryRefused || !row.unparsed.empty()) {
            EXPECT_EQ(unparsed, row.unparsed);
        }
        EXPECT_LE(run.end, row.end == TalkEnd::DiscoveryRefused ? LongestReplyTime + milliseconds(50)
                                                                : DefaultDiscoveryLimit + milliseconds(50));
    }

    ConsoleSession session({});
    const Timeline run = play(session, discover(), answering(many));
    EXPECT_EQ(run.devices.size(), MostDevices);
    EXPECT_EQ(run.outcome->message, "The module finished its scan: 206 devices were heard (the first 200 are listed)");
    EXPECT_EQ(run.outcome->notListed, 6u);
}

TEST(ConsoleSessionTest, DiscoveryWordsAndBounds)
{
    const milliseconds ms(1);
    ConsoleSession session({});
    Timeline run = play(session, discover(), answering({{ms * 5, "OK+DISCSOK+DIS0001122334455Lamp"}}));
    EXPECT_EQ(run.outcome->message, "The module did not say OK+DISCE within 15 s; 1 device was heard");
    // A name needs no end once the line is quiet: the device is shown long before the limit.
    ASSERT_TRUE(run.firstFound);
    EXPECT_LT(*run.firstFound, milliseconds(100));

    std::vector<Piece> noise = stream(std::string(100, 'x'), 3000, ms * 10);
    noise.insert(noise.begin(), {ms * 5, "OK+DISCS"});
    run = play(session, discover(), answering(noise));
    EXPECT_EQ(run.outcome->message.substr(run.outcome->message.find(';')),
              "; no device was heard; of 150000 bytes that fit no answer, the first 4096 are shown");
    std::size_t shown = 0;
    for (const std::string& line : run.transcript)
        shown += line[0] == '?' ? line.size() - 2 : 0;
    EXPECT_EQ(shown, KeptUnparsedBytes);

    run = play(session, discover(), answering({{ms * 5, "ERROR"}}));
    EXPECT_EQ(run.outcome->message,
              "The module answered AT+DISC? with \"ERROR\" instead of OK+DISCS; it scans only in the central role "
              "(AT+ROLE1)");

    run = play(session, discover(), answering({{ms * 5, "OK+DISCSOK+DIS0001122334455A"}}), milliseconds(2000));
    EXPECT_EQ(run.outcome->end, TalkEnd::Stopped);
    EXPECT_EQ(run.outcome->message, "Stopped; 1 device was heard");
    EXPECT_EQ(run.end, milliseconds(2000));
}

struct CommandCase {
    const char* name;
    SessionSettings settings;
    std::vector<Piece> pieces;
    std::string written;
    std::vector<std::string> transcript;
    TalkEnd end;
    std::string message;
};

TEST(ConsoleSessionTest, TypedCommandGetsItsReply)
{
    const milliseconds ms(1);
    SessionSettings crlf;
    crlf.lineEnding = LineEnding::CRLF;
    std::vector<Piece> flood = stream("0123456789", 100, ms * 5);
    const std::vector<CommandCase> cases = {
        {"a reply in pieces", crlf, {{ms * 3, "OK+RO"}, {ms * 30, "LE:1\r\n"}}, "AT+ROLE?\r\n",
         {"> AT+ROLE?", "< OK+ROLE:1\\x0D\\x0A"}, TalkEnd::Replied, ""},
        {"silence", {}, {}, "AT+ROLE?", {"> AT+ROLE?", "< (no reply)"}, TalkEnd::NoReply,
         "AT+ROLE? got no reply within 1000 ms"},
        {"a flood", {}, flood, "AT+ROLE?", {}, TalkEnd::Replied, ""},
        {"a slow stream", {}, stream("~", 250, ms * 20), "AT+ROLE?", {}, TalkEnd::Replied, ""},
    };
    for (const CommandCase& row : cases) {
        SCOPED_TRACE(row.name);
        ConsoleSession session(row.settings);
        const Timeline run =
            play(session, [](ConsoleSession& s, Micros now) { return s.Command(now, "AT+ROLE?"); }, answering(row.pieces));
        ASSERT_TRUE(run.outcome);
        EXPECT_EQ(run.writes, std::vector<std::string>{row.written});
        EXPECT_EQ(run.outcome->end, row.end);
        if (!row.transcript.empty()) {
            EXPECT_EQ(run.transcript, row.transcript);
            EXPECT_EQ(run.outcome->message, row.message);
        } else {
            EXPECT_EQ(run.outcome->message.rfind("The module kept sending in reply to AT+ROLE?: ", 0), 0u)
                << run.outcome->message;
            EXPECT_LE(run.end, LongestReplyTime + milliseconds(50)); // 3 s from its first byte
        }
        EXPECT_FALSE(session.busy());
    }
}

struct ConnectCase {
    const char* name;
    std::vector<Piece> pieces;
    TalkEnd end;
    milliseconds endsAt;
    std::string message;
    std::string relayed = {}; // the far device's first bytes
};

TEST(ConsoleSessionTest, ConnectingTellsWhatTheModuleDid)
{
    const milliseconds ms(1);
    const std::vector<ConnectCase> cases = {
        {"at once", {{ms * 5, "OK+CONNAOK+CONN"}}, TalkEnd::Connected, ms * 55,
         "Connected to 00:17:EA:09:43:AE; the module now passes on what is sent"},
        {"after a while", {{ms * 5, "OK+CONNA"}, {ms * 2000, "OK+CONN"}}, TalkEnd::Connected, ms * 2050, ""},
        {"accepted only", {{ms * 5, "OK+CONNA"}}, TalkEnd::NotConnected, ms * 10005,
         "The module took AT+CO00017EA0943AE but did not connect within 10 s"},
        {"failed", {{ms * 5, "OK+CONNA"}, {ms * 900, "OK+CONNF"}}, TalkEnd::NotConnected, ms * 950,
         "The module could not connect: it answered AT+CO00017EA0943AE with \"OK+CONNAOK+CONNF\""},
        {"the device's bytes at once", {{ms * 5, "OK+CONNHELLO\r\n"}}, TalkEnd::Connected, ms * 55, "", "HELLO\r\n"},
        {"the device's bytes that begin like a refusal", {{ms * 5, "OK+CONNAOK+CONNFan=3\r\n"}}, TalkEnd::Connected,
         ms * 55, "", "Fan=3\r\n"},
        {"failed at once", {{ms * 5, "OK+CONNE\r\n"}}, TalkEnd::NotConnected, ms * 55, ""},
        {"refused", {{ms * 5, "ERROR"}}, TalkEnd::NotConnected, ms * 55,
         "The module answered AT+CO00017EA0943AE with \"ERROR\""},
        {"silent", {}, TalkEnd::NotConnected, ms * 1000, ""},
    };
    const FoundDevice device{'0', "0017EA0943AE", std::nullopt};
    for (const ConnectCase& row : cases) {
        SCOPED_TRACE(row.name);
        ConsoleSession session({});
        const Timeline run =
            play(session, [&](ConsoleSession& s, Micros now) { return s.Connect(now, device); }, answering(row.pieces));
        ASSERT_TRUE(run.outcome);
        EXPECT_EQ(run.writes, std::vector<std::string>{"AT+CO00017EA0943AE"});
        EXPECT_EQ(run.outcome->end, row.end);
        EXPECT_NEAR(std::chrono::duration_cast<milliseconds>(run.end).count(), row.endsAt.count(), 25);
        if (!row.message.empty()) {
            EXPECT_EQ(run.outcome->message, row.message);
        }
        EXPECT_EQ(session.connected(), row.end == TalkEnd::Connected);
        EXPECT_EQ(run.relayed, row.relayed);
    }
}

// A lone AT ends a link; only OK+LOST (or OK, the link gone already) says it ended, and
// the device's last bytes before it are passed on.
TEST(ConsoleSessionTest, DisconnectingSaysWhetherTheModuleConfirmedIt)
{
    const milliseconds ms(1);
    struct Case {
        const char* name;
        std::vector<Piece> pieces;
        TalkEnd end;
        std::string relayed;
    };
    const std::vector<Case> cases = {
        {"confirmed", {{ms * 5, "OK+LOST"}}, TalkEnd::Disconnected, ""},
        {"the device's bytes first", {{ms * 5, "bye\r\nOK+LOST"}}, TalkEnd::Disconnected, "bye\r\n"},
        {"gone already", {{ms * 5, "OK"}}, TalkEnd::Disconnected, ""},
        {"the device answers instead", {{ms * 5, "AT?"}}, TalkEnd::StillConnected, "AT?"},
        {"silent", {}, TalkEnd::StillConnected, ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ConsoleSession session({});
        play(session, [](ConsoleSession& s, Micros now) { return s.Connect(now, {'0', "001122334455", {}}); },
             answering({{ms * 5, "OK+CONN"}}));
        ASSERT_TRUE(session.connected());
        const Timeline run =
            play(session, [](ConsoleSession& s, Micros now) { return s.Disconnect(now); }, answering(row.pieces));
        ASSERT_TRUE(run.outcome);
        EXPECT_EQ(run.writes, std::vector<std::string>{"AT"});
        EXPECT_EQ(run.outcome->end, row.end);
        EXPECT_EQ(run.relayed, row.relayed);
        EXPECT_EQ(session.connected(), row.end == TalkEnd::StillConnected);
    }
}

TEST(ConsoleSessionTest, ConnectedModulePassesBytesBothWays)
{
    ConsoleSession session({});
    play(session, [](ConsoleSession& s, Micros now) { return s.Connect(now, {'0', "001122334455", {}}); },
         answering({{milliseconds(5), "OK+CONN"}}));
    ASSERT_TRUE(session.connected());
    // What is typed goes as it is, without a line ending and without waiting for a reply.
    EXPECT_EQ(session.Relay("hi\n").write, "hi\n");
    EXPECT_EQ(session.BytesArrived(Micros(100000), "\x01pong").relayed, "\x01pong");
    EXPECT_TRUE(session.Command(Micros(100000), "AT").write.empty());
    // The port fails: the session is done with.
    const TalkActions failed = session.PortFailed("unplugged");
    ASSERT_TRUE(failed.outcome);
    EXPECT_EQ(failed.outcome->message, "The port failed (unplugged)");
    EXPECT_TRUE(session.dead());
    EXPECT_TRUE(session.Relay("x").write.empty());
    EXPECT_TRUE(session.Discover(Micros(0)).write.empty());

    // A reply cut short by the port's failure still shows what came.
    ConsoleSession asking({});
    asking.Command(Micros(0), "AT+ROLE?");
    asking.BytesArrived(Micros(10000), "OK+R");
    const TalkActions cut = asking.PortFailed("unplugged");
    ASSERT_EQ(cut.transcript.size(), 1u);
    EXPECT_EQ(cut.transcript[0].bytes, "OK+R");
}

} // namespace
} // namespace qz::serial
