#pragma once

// Talking with the module beyond a list: one typed command and its reply, a discovery
// ("AT+DISC?" until "OK+DISCE") and a connection ("AT+CO" + type + address), after which
// the module passes bytes through. Like the send session it decides only: its owner feeds
// it events with the current time and carries out the actions it answers. One operation
// runs at a time; each ends with an outcome, and the session then takes the next.

#include "SendSession.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::serial {

inline constexpr Micros DefaultDiscoveryLimit = std::chrono::seconds(15);
// A module that has accepted AT+CO ("OK+CONNA") is given this long to connect.
inline constexpr Micros ConnectLimit = std::chrono::seconds(10);
// A discovery keeps this many devices, room for a bench's beacons and its neighbours';
// more are counted, not kept.
inline constexpr std::size_t MostDevices = 200;
// Bytes that fit no answer of a discovery are shown; an entry still waiting for its end
// is cut once it runs this long, so that a stream without form cannot fill the memory.
inline constexpr std::size_t LongestDiscoveryEntry = 256;
// Of the bytes that fit no answer, this many are kept over one discovery.
inline constexpr std::size_t KeptUnparsedBytes = 4096;

inline constexpr std::string_view DiscoverCommand = "AT+DISC?";
inline constexpr std::string_view ConnectCommandWord = "AT+CO";

// A device that a discovery heard: "OK+DIS" + type + address + name.
struct FoundDevice {
    char type = '0';
    std::string address; // 12 hex digits, as the module wrote them
    std::optional<std::string> name; // absent unless the module was told AT+SHOW1

    bool operator==(const FoundDevice& other) const
    {
        return type == other.type && address == other.address && name == other.name;
    }
};

// "AT+CO" + type + address
std::string ConnectCommand(const FoundDevice& device);

enum class TalkEnd {
    Replied,             // a typed command got its reply
    NoReply,             // nothing came within the reply timeout
    Discovered,          // the module said OK+DISCE
    DiscoveryUnfinished, // the time limit came first
    DiscoveryRefused,    // the module did not start scanning
    Connected,
    NotConnected,
    Disconnected,   // the module said the link is over (OK+LOST), or was not connected
    StillConnected, // the module did not confirm the end of the link
    Stopped,
    PortFailed
};

struct TalkOutcome {
    TalkEnd end;
    std::string message;        // in words, for the user
    std::size_t notListed = 0;  // of a discovery: devices heard past MostDevices
};

struct TalkActions {
    std::string write;             // write these bytes
    std::optional<Micros> wakeAt;  // then call TimePassed at this time, or later
    // Commands sent and what came back. Of a discovery, each answer understood is a reply
    // that was taken; bytes that fit no answer are a reply that was not.
    std::vector<Exchange> transcript;
    std::vector<FoundDevice> found;     // devices first heard in this step
    std::string relayed;                // bytes the connected module passed on
    std::optional<TalkOutcome> outcome; // the operation is over
};

class ConsoleSession {
public:
    explicit ConsoleSession(SessionSettings settings);

    // Each starts an operation when none runs (else it does nothing); the owner has the
    // port open at settings.baudRate.
    TalkActions Command(Micros now, std::string_view command);
    TalkActions Discover(Micros now, Micros timeLimit = DefaultDiscoveryLimit);
    TalkActions Connect(Micros now, const FoundDevice& device);
    // Once connected: bytes for the far device, written as they are.
    TalkActions Relay(std::string_view bytes);
    // Once connected: ends the link as these modules allow, with a lone AT, which the
    // module answers OK+LOST. One that does not confirm it is left as it is, connected.
    TalkActions Disconnect(Micros now);

    TalkActions BytesArrived(Micros now, std::string_view bytes);
    TalkActions TimePassed(Micros now);
    // Ends the operation in flight at once; a connection stays as it is.
    TalkActions Stop();
    // The port was closed or unplugged, or a write failed: nothing more can be done.
    TalkActions PortFailed(std::string_view reason);

    bool busy() const { return phase_ != Phase::Idle && phase_ != Phase::Connected && phase_ != Phase::Dead; }
    bool connected() const { return phase_ == Phase::Connected; }
    bool dead() const { return phase_ == Phase::Dead; }
    const std::vector<FoundDevice>& devices() const { return devices_; }

private:
    enum class Phase { Idle, AwaitingReply, Collecting, Discovering, Connecting, Connected, Dead };
    enum class Operation { Command, Discovery, Connection, Disconnection };
    enum class Parsing { AsItComes, Quiet, Final };

    void send(TalkActions& actions, Micros now, std::string command);
    void finish(TalkActions& actions, TalkEnd end, std::string message, Phase next = Phase::Idle);
    void collect(Micros now, std::string_view bytes);
    void discoveryBytes(TalkActions& actions, Micros now, std::string_view bytes);
    void parseDiscovery(TalkActions& actions, Parsing parsing);
    void takeEntry(TalkActions& actions, std::string_view entry);
    void unparsed(TalkActions& actions, std::string_view bytes);
    void judgeConnection(TalkActions& actions, Micros now);
    void judgeDisconnection(TalkActions& actions);
    void replyTimeout(TalkActions& actions);
    Micros nextWake() const;
    std::string shownCommand() const { return EscapedBytes(command_); }
    std::string deviceCount() const;

    SessionSettings settings_;
    Phase phase_ = Phase::Idle;
    Operation operation_ = Operation::Command;
    std::string command_; // the one in flight, without its line ending
    std::string reply_;   // its first LongestReply bytes
    std::size_t replyLength_ = 0;
    Micros firstByteAt_{0};
    Micros lastByteAt_{0};
    Micros onTheWireAt_{0};
    Micros deadline_{0}; // the reply timeout, or when the reply is complete
    Micros limit_{0};    // when a discovery must end
    Micros discoveryLimit_{0};

    // Discovery: bytes not yet understood, what was heard, and what fit no answer.
    std::string pending_;
    bool scanning_ = false; // OK+DISCS came
    std::vector<FoundDevice> devices_;
    std::size_t devicesNotKept_ = 0;
    std::size_t unparsedKept_ = 0;
};

} // namespace qz::serial
