#pragma once

// One send session: the commands of a list go to the module one by one, each reply is
// checked, and the first failure ends it. The session decides; it does no input or output
// and reads no clock. Its owner feeds it events (started, bytes arrived, time passed,
// Stop, the port failed) with the current time, and carries out the Actions each answers:
// switch the rate, write these bytes, wake me at this time, report these exchanges, and at
// last the verdict.

#include <array>
#include <cstddef>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::serial {

// Time as the owner's monotonic clock gives it; only differences matter.
using Micros = std::chrono::microseconds;

inline constexpr int FactoryBaudRate = 9600;
inline constexpr std::array<int, 8> SupportedBaudRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// A reply is complete once no byte has come for this long.
inline constexpr Micros QuietGap = std::chrono::milliseconds(50);
// After replying to AT+RENEW or AT+RESET the module restarts and takes nothing for this long.
inline constexpr Micros RestartPause = std::chrono::milliseconds(500);
inline constexpr Micros DefaultReplyTimeout = std::chrono::milliseconds(1000);

// The module's replies are a few dozen bytes and come in well under a second even at
// 1200 baud (40 bytes take 333 ms). A reply that runs past either bound is not a reply:
// a module in data mode relaying a connected phone, or noise at a wrong rate, would send
// for ever. 256 bytes at 1200 baud take 2.1 s, so at any rate the reply ends within 3 s of
// its first byte, and memory stays bounded: only the first bytes are kept.
inline constexpr std::size_t LongestReply = 256;
inline constexpr Micros LongestReplyTime = std::chrono::seconds(3);
// After Stop the session waits this long at most for the reply in flight.
inline constexpr Micros StopWait = std::chrono::seconds(3);
// A message quotes this many bytes of a reply at most, then says how long it was.
inline constexpr std::size_t QuotedReplyBytes = 64;

enum class LineEnding { None, CR, LF, CRLF };

// The bytes written after each command.
std::string_view LineEndingBytes(LineEnding ending);
// How long this many bytes take on the line at this rate (start, data and stop bits).
Micros WireTime(std::size_t byteCount, int baudRate);

struct SessionSettings {
    int baudRate = FactoryBaudRate;
    LineEnding lineEnding = LineEnding::None;
    // How long the first byte of a reply may take once the command is on the wire.
    Micros replyTimeout = DefaultReplyTimeout;
    // After the probe, ask the module its own address (AddressQuestion) and wait for the
    // owner to go ahead with the list (Proceed) or withdraw (Withdraw): a batch tells a
    // module it set up already from a new one so.
    bool askModuleAddress = false;
};

// The question a module answers with its own address, "OK+ADDR:" and 12 hex digits.
inline constexpr std::string_view AddressQuestion = "AT+ADDR?";
inline constexpr std::string_view AddressAnswer = "OK+ADDR:";

// Whether reply says yes to command: "OK", or a reply that begins with "OK+"; where it
// echoes the value set ("OK+Set:000E0B000001"), the value echoed must be the value sent,
// by meaning (0x00FE and 00FE are one value). Anything else ("OKERROR", "OK+FAIL") is no.
bool ReplyMeansYes(std::string_view command, std::string_view reply);

// One line of the transcript: a command sent, or what came back for it.
struct Exchange {
    enum Kind { Sent, Replied, NoReply };
    // What the command is to the session: the AT that finds the module, the question for
    // its own address, or a command of the list.
    enum Role { Probe, Question, ListCommand };
    Kind kind;
    std::string bytes; // the command without its line ending, or the whole reply
    bool taken = false; // a reply that says yes to its command
    Role role = ListCommand;
};

// "> COMMAND", "< REPLY" or "< (no reply)", escaped as EscapedBytes does.
std::string TranscriptLine(const Exchange& exchange);
// Bytes as text a user can read: valid UTF-8 as it is, every control byte, invalid byte
// and character nobody can see (a byte-order mark, a zero-width space) written as \xNN.
std::string EscapedBytes(std::string_view bytes);
// A reply as a message quotes it: escaped, in double quotes, cut after QuotedReplyBytes
// bytes with its whole length said.
std::string QuotedReply(std::string_view reply, std::size_t length);
// "K of N commands were taken", with "; the module is partly set up" when it is.
std::string TakenSummary(int taken, int total);

// NotHeardAsSet: every command was taken, but the module was then not heard over the air
// advertising what it was given. Withdrawn: the owner withdrew before the list (the module
// is one it knows); nothing of the list was sent.
enum class Ending { AllTaken, ProbeFailed, Refused, NoReply, PortFailed, Stopped, NotHeardAsSet, Withdrawn };

struct Verdict {
    Ending ending;
    int taken;
    int total;
    std::string message; // in words, for the user
    int baudRate = 0;    // the module's rate as the session ends; 0 where no session began
    // Commands of the list that left the port, answered or not: a module may have taken
    // one whose reply was lost.
    int sent = 0;

    bool succeeded() const { return ending == Ending::AllTaken; }
};

// What a module said when asked its address: the 12 upper-case hex digits, or why none.
struct ModuleAddress {
    std::string address;
    std::string why; // empty when address is known
};

struct Actions {
    std::optional<int> setBaudRate; // first
    std::string write;              // then these bytes
    std::optional<Micros> wakeAt;   // then call TimePassed at this time, or later
    std::vector<Exchange> transcript;
    // The module told its address, or did not: the session waits for Proceed or Withdraw.
    std::optional<ModuleAddress> identified;
    std::optional<Verdict> verdict; // the session is over; nothing more will be asked
};

class SendSession {
public:
    SendSession(std::vector<std::string> commands, SessionSettings settings);

    // Probes the link with AT; the owner has opened the port at settings.baudRate.
    Actions Start(Micros now);
    Actions BytesArrived(Micros now, std::string_view bytes);
    // A wake-up: early ones are harmless, the session waits on until its time has come.
    Actions TimePassed(Micros now);
    // Ends the session once the reply being waited for is complete, or StopWait after
    // this call at the latest; nothing more is sent.
    Actions Stop(Micros now);
    // The owner did not write the bytes the last Actions asked for (a stop came while it
    // reported the transcript): the session ends, as stopped before that command.
    Actions WriteWithheld();
    // The port was closed or unplugged, or a write failed: the session ends at once.
    Actions PortFailed(std::string_view reason);
    // Once identified: the list goes out (commands, when given, in place of the one the
    // session began with: the owner chose the module's values once it knew the module),
    // or nothing does (why, in words).
    Actions Proceed(Micros now, std::optional<std::vector<std::string>> commands = std::nullopt);
    Actions Withdraw(std::string why);

    bool finished() const { return phase_ == Phase::Finished; }
    int taken() const { return taken_; }
    int sent() const { return sent_; }
    int total() const { return static_cast<int>(commands_.size()); }
    // The rate the port should be at now: the one chosen, or the factory rate after AT+RENEW.
    int baudRate() const { return baudRate_; }

private:
    enum class Phase { NotStarted, AwaitingReply, Collecting, Pausing, Identified, Finished };

    bool probing() const { return current_ == -1; }
    bool asking() const { return current_ == askingAddress; }
    // An exchange of the command in flight, with its role.
    Exchange exchange(Exchange::Kind kind, std::string bytes = {}, bool taken = false) const;
    const std::string& currentCommand() const;
    void send(Actions& actions, Micros now, const std::string& command);
    void completeReply(Actions& actions, Micros now);
    void sendNext(Actions& actions, Micros now);
    void finish(Actions& actions, Ending ending, std::string message);
    void finishStopped(Actions& actions);
    void finishKeptSending(Actions& actions, Micros now);
    void reportPartialReply(Actions& actions);
    void askAddress(Actions& actions, Micros now);
    void addressTold(Actions& actions, ModuleAddress told);
    Micros nextWake() const;
    std::string takenSoFar() const;
    std::string shownCommand() const;

    std::vector<std::string> commands_;
    SessionSettings settings_;
    int baudRate_;
    Phase phase_ = Phase::NotStarted;
    static constexpr int askingAddress = -2;
    int current_ = -1; // index of the command in flight; -1 is the AT probe, -2 the address question
    int taken_ = 0;
    int sent_ = 0;
    bool stopRequested_ = false;
    std::string reply_; // its first LongestReply bytes
    std::size_t replyLength_ = 0;
    Micros firstByteAt_{0};
    Micros lastByteAt_{0};
    Micros onTheWireAt_{0}; // the command's last byte has left the port
    Micros stopBy_ = Micros::max();
    Micros deadline_{0}; // AwaitingReply: no reply after it; Collecting: complete at it;
                         // Pausing: the next command goes at it
};

} // namespace qz::serial
