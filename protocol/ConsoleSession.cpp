#include "ConsoleSession.h"

#include "FieldRules.h"

#include <algorithm>

namespace qz::serial {

namespace {

constexpr std::string_view answerPrefix = "OK+";
constexpr std::string_view scanStarted = "OK+DISCS";
constexpr std::string_view scanFinished = "OK+DISCE";
constexpr std::string_view entryWord = "OK+DIS";
// "OK+DIS", the type, the address: where the name begins.
constexpr std::size_t nameStart = entryWord.size() + 1 + DeviceAddressDigits;
constexpr std::string_view connectionWord = "OK+CONN";
// A lone AT ends a link; the module says so.
constexpr std::string_view probe = "AT";
constexpr std::string_view linkLost = "OK+LOST";

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// Where the answer that begins text ends: at the next "OK+" or line end after from.
std::size_t answerEnd(std::string_view text, std::size_t from)
{
    const std::size_t nextAnswer = text.find(answerPrefix, from);
    const std::size_t lineEnd = text.find_first_of("\r\n", from);
    return std::min(nextAnswer, lineEnd);
}

// Whether more bytes could still make text an answer of a discovery.
bool couldBecomeAnswer(std::string_view text)
{
    if (text.size() < scanStarted.size() && (startsWith(scanStarted, text) || startsWith(scanFinished, text)))
        return true;
    return text.size() < nameStart && startsWith(text, entryWord)
        && AllHexDigits(UpperCase(std::string(text.substr(std::min(text.size(), entryWord.size() + 1)))));
}

bool isEntry(std::string_view text)
{
    return text.size() >= nameStart && startsWith(text, entryWord)
        && AllHexDigits(UpperCase(std::string(text.substr(entryWord.size() + 1, DeviceAddressDigits))));
}

std::string milliseconds(Micros time)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(time).count()) + " ms";
}

std::string seconds(Micros time)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(time).count()) + " s";
}

} // namespace

std::string ConnectCommand(const FoundDevice& device)
{
    return std::string(ConnectCommandWord) + device.type + device.address;
}

ConsoleSession::ConsoleSession(SessionSettings settings)
    : settings_(settings)
{
}

TalkActions ConsoleSession::Command(Micros now, std::string_view command)
{
    TalkActions actions;
    if (phase_ != Phase::Idle)
        return actions;
    operation_ = Operation::Command;
    send(actions, now, std::string(command));
    return actions;
}

TalkActions ConsoleSession::Discover(Micros now, Micros timeLimit)
{
    TalkActions actions;
    if (phase_ != Phase::Idle)
        return actions;
    operation_ = Operation::Discovery;
    pending_.clear();
    scanning_ = false;
    devices_.clear();
    devicesNotKept_ = 0;
    unparsedKept_ = 0;
    send(actions, now, std::string(DiscoverCommand));
    discoveryLimit_ = timeLimit;
    limit_ = now + timeLimit;
    actions.wakeAt = nextWake();
    return actions;
}

TalkActions ConsoleSession::Connect(Micros now, const FoundDevice& device)
{
    TalkActions actions;
    if (phase_ != Phase::Idle)
        return actions;
    operation_ = Operation::Connection;
    send(actions, now, ConnectCommand(device));
    return actions;
}

TalkActions ConsoleSession::Relay(std::string_view bytes)
{
    TalkActions actions;
    if (phase_ != Phase::Connected || bytes.empty())
        return actions;
    actions.write = std::string(bytes);
    actions.transcript.push_back({Exchange::Sent, std::string(bytes)});
    return actions;
}

void ConsoleSession::send(TalkActions& actions, Micros now, std::string command)
{
    command_ = std::move(command);
    actions.write = command_ + std::string(LineEndingBytes(settings_.lineEnding));
    actions.transcript.push_back({Exchange::Sent, command_});
    reply_.clear();
    replyLength_ = 0;
    phase_ = Phase::AwaitingReply;
    onTheWireAt_ = now + WireTime(actions.write.size(), settings_.baudRate);
    deadline_ = onTheWireAt_ + settings_.replyTimeout;
    limit_ = Micros::max();
    actions.wakeAt = nextWake();
}

Micros ConsoleSession::nextWake() const
{
    return std::min(deadline_, limit_);
}

void ConsoleSession::collect(Micros now, std::string_view bytes)
{
    if (phase_ == Phase::AwaitingReply)
        firstByteAt_ = now;
    reply_.append(bytes.substr(0, LongestReply - std::min(LongestReply, reply_.size())));
    replyLength_ += bytes.size();
    lastByteAt_ = now;
    // A module may answer while the command is still going out; an answer to AT+CO may
    // take a while between "accepted" and "connected".
    const Micros longest = operation_ == Operation::Connection ? ConnectLimit : LongestReplyTime;
    deadline_ = std::min(std::max(now + QuietGap, onTheWireAt_), firstByteAt_ + longest);
}

TalkActions ConsoleSession::BytesArrived(Micros now, std::string_view bytes)
{
    TalkActions actions;
    if (bytes.empty() || phase_ == Phase::Dead)
        return actions;
    switch (phase_) {
    case Phase::Connected: actions.relayed = std::string(bytes); break;
    // Nothing was asked: a late reply, or the module speaking of its own accord.
    case Phase::Idle: actions.transcript.push_back({Exchange::Replied, std::string(bytes), false}); break;
    case Phase::AwaitingReply:
    case Phase::Collecting:
    case Phase::Connecting:
        if (operation_ == Operation::Discovery) {
            discoveryBytes(actions, now, bytes);
            break;
        }
        collect(now, bytes);
        phase_ = operation_ == Operation::Connection ? Phase::Connecting : Phase::Collecting;
        if (replyLength_ > LongestReply) {
            actions.transcript.push_back({Exchange::Replied, reply_, false});
            if (operation_ == Operation::Disconnection) {
                // A device that keeps sending holds the link: the module never got to answer.
                judgeDisconnection(actions);
                break;
            }
            finish(actions, operation_ == Operation::Connection ? TalkEnd::NotConnected : TalkEnd::Replied,
                   "The module kept sending in reply to " + shownCommand() + ": " + std::to_string(replyLength_)
                       + " bytes, beginning " + QuotedReply(reply_, replyLength_));
            break;
        }
        actions.wakeAt = nextWake();
        break;
    case Phase::Discovering: discoveryBytes(actions, now, bytes); break;
    case Phase::Dead: break;
    }
    return actions;
}

void ConsoleSession::discoveryBytes(TalkActions& actions, Micros now, std::string_view bytes)
{
    if (!scanning_)
        collect(now, bytes); // kept whole for the message, should the module refuse to scan
    else
        deadline_ = now + QuietGap;
    phase_ = Phase::Discovering;
    lastByteAt_ = now;
    pending_.append(bytes);
    parseDiscovery(actions, Parsing::AsItComes);
    if (phase_ == Phase::Discovering)
        actions.wakeAt = nextWake();
}

// Takes every whole answer from the front of what has come. After a quiet gap a device's
// name, or bytes that fit no answer, need no end: nothing more is coming for now. At the
// end of the discovery whatever is left fits no answer.
void ConsoleSession::parseDiscovery(TalkActions& actions, Parsing parsing)
{
    const bool final = parsing == Parsing::Final;
    const bool unended = parsing != Parsing::AsItComes;
    while (phase_ == Phase::Discovering || phase_ == Phase::AwaitingReply) {
        const std::size_t text = pending_.find_first_not_of("\r\n");
        pending_.erase(0, text == std::string::npos ? pending_.size() : text);
        if (pending_.empty())
            return;
        std::string_view rest(pending_);
        std::size_t end = std::string::npos;
        if (startsWith(rest, scanStarted) || startsWith(rest, scanFinished)) {
            const bool started = startsWith(rest, scanStarted);
            actions.transcript.push_back({Exchange::Replied, std::string(rest.substr(0, scanStarted.size())), true});
            pending_.erase(0, scanStarted.size());
            if (started) {
                scanning_ = true;
                continue;
            }
            std::string leftover;
            leftover.swap(pending_);
            finish(actions, TalkEnd::Discovered, "The module finished its scan: " + deviceCount());
            if (leftover.find_first_not_of("\r\n") != std::string::npos)
                unparsed(actions, leftover);
            return;
        }
        if (isEntry(rest)) {
            end = answerEnd(rest, nameStart);
            if (end == std::string::npos && (unended || rest.size() > LongestDiscoveryEntry))
                end = rest.size();
            if (end == std::string::npos)
                return;
            takeEntry(actions, rest.substr(0, end));
            pending_.erase(0, end);
            continue;
        }
        if (!final && couldBecomeAnswer(rest))
            return;
        end = answerEnd(rest, 1);
        if (end == std::string::npos && (unended || rest.size() > LongestDiscoveryEntry))
            end = rest.size();
        if (end == std::string::npos)
            return;
        unparsed(actions, rest.substr(0, end));
        pending_.erase(0, end);
    }
}

void ConsoleSession::takeEntry(TalkActions& actions, std::string_view entry)
{
    actions.transcript.push_back({Exchange::Replied, std::string(entry), true});
    FoundDevice device;
    device.type = entry[entryWord.size()];
    device.address = UpperCase(std::string(entry.substr(entryWord.size() + 1, DeviceAddressDigits)));
    if (entry.size() > nameStart)
        device.name = std::string(entry.substr(nameStart));
    // A scan may report a device more than once.
    const bool known = std::any_of(devices_.begin(), devices_.end(),
                                   [&device](const FoundDevice& found) { return found.address == device.address; });
    if (known)
        return;
    if (devices_.size() >= MostDevices) {
        ++devicesNotKept_;
        return;
    }
    devices_.push_back(device);
    actions.found.push_back(std::move(device));
}

// Bytes that fit no answer are shown as they came, up to a bound; past it they are counted.
void ConsoleSession::unparsed(TalkActions& actions, std::string_view bytes)
{
    if (bytes.empty())
        return;
    const std::size_t room = KeptUnparsedBytes - std::min(KeptUnparsedBytes, unparsedKept_);
    if (room > 0)
        actions.transcript.push_back({Exchange::Replied, std::string(bytes.substr(0, room)), false});
    unparsedKept_ += bytes.size();
}

std::string ConsoleSession::deviceCount() const
{
    const std::size_t heard = devices_.size() + devicesNotKept_;
    std::string words = heard == 0 ? "no device was heard"
                                   : std::to_string(heard) + (heard == 1 ? " device was heard" : " devices were heard");
    if (devicesNotKept_ > 0)
        words += " (the first " + std::to_string(MostDevices) + " are listed)";
    if (unparsedKept_ > KeptUnparsedBytes)
        words += "; of " + std::to_string(unparsedKept_) + " bytes that fit no answer, the first "
            + std::to_string(KeptUnparsedBytes) + " are shown";
    return words;
}

TalkActions ConsoleSession::TimePassed(Micros now)
{
    TalkActions actions;
    if (!busy())
        return actions;
    if (operation_ == Operation::Discovery && now >= limit_) {
        parseDiscovery(actions, Parsing::Final);
        if (busy())
            finish(actions, TalkEnd::DiscoveryUnfinished,
                   "The module did not say " + std::string(scanFinished) + " within " + seconds(discoveryLimit_) + "; "
                       + deviceCount());
        return actions;
    }
    if (now < deadline_) {
        actions.wakeAt = nextWake();
        return actions;
    }
    if (phase_ == Phase::AwaitingReply) {
        replyTimeout(actions);
        return actions;
    }
    switch (operation_) {
    case Operation::Command:
        actions.transcript.push_back({Exchange::Replied, reply_, startsWith(reply_, "OK")});
        if (now - lastByteAt_ < QuietGap)
            finish(actions, TalkEnd::Replied,
                   "The module kept sending in reply to " + shownCommand() + ": " + std::to_string(replyLength_)
                       + " bytes in " + milliseconds(now - firstByteAt_));
        else
            finish(actions, TalkEnd::Replied, {});
        break;
    case Operation::Discovery:
        if (!scanning_) {
            const std::string reply = reply_;
            const std::size_t length = replyLength_;
            parseDiscovery(actions, Parsing::Final);
            finish(actions, TalkEnd::DiscoveryRefused,
                   "The module answered " + shownCommand() + " with " + QuotedReply(reply, length) + " instead of "
                       + std::string(scanStarted) + "; it scans only in the central role (AT+ROLE1)");
            break;
        }
        // Quiet for now: a name that has come needs no end to be shown.
        parseDiscovery(actions, Parsing::Quiet);
        deadline_ = limit_;
        if (busy())
            actions.wakeAt = nextWake();
        break;
    case Operation::Connection: judgeConnection(actions, now); break;
    case Operation::Disconnection: judgeDisconnection(actions); break;
    }
    return actions;
}

TalkActions ConsoleSession::Disconnect(Micros now)
{
    TalkActions actions;
    if (phase_ != Phase::Connected)
        return actions;
    operation_ = Operation::Disconnection;
    send(actions, now, std::string(probe));
    return actions;
}

// What came after the lone AT: the device's last bytes, passed on, then the module's
// OK+LOST; OK alone says the link had ended already.
void ConsoleSession::judgeDisconnection(TalkActions& actions)
{
    const std::size_t lost = reply_.find(linkLost);
    const std::string_view reply(reply_);
    if (lost != std::string::npos) {
        actions.relayed = std::string(reply.substr(0, lost));
        actions.transcript.push_back({Exchange::Replied, std::string(reply.substr(lost)), true});
        finish(actions, TalkEnd::Disconnected, "Disconnected: the module ended the link (" + std::string(linkLost) + ")");
    } else if (reply == "OK") {
        actions.transcript.push_back({Exchange::Replied, reply_, true});
        finish(actions, TalkEnd::Disconnected, "The link had ended already: the module answered AT with OK");
    } else {
        actions.relayed = reply_;
        finish(actions, TalkEnd::StillConnected,
               "The module did not confirm the end of the link (no " + std::string(linkLost)
                   + " came); it may still be connected",
               Phase::Connected);
    }
}

void ConsoleSession::replyTimeout(TalkActions& actions)
{
    actions.transcript.push_back({Exchange::NoReply, {}});
    if (operation_ == Operation::Disconnection) {
        finish(actions, TalkEnd::StillConnected,
               "The module did not confirm the end of the link: AT got no reply within "
                   + milliseconds(settings_.replyTimeout) + "; it may still be connected",
               Phase::Connected);
        return;
    }
    const TalkEnd end = operation_ == Operation::Connection ? TalkEnd::NotConnected : TalkEnd::NoReply;
    finish(actions, end, shownCommand() + " got no reply within " + milliseconds(settings_.replyTimeout));
}

// The module answers AT+CO with OK+CONNA (accepted, connecting), then OK+CONN once
// connected, or OK+CONNF (failed) or OK+CONNE (an error). What follows OK+CONN is the far
// device's: passed on, never read as the module's ("OK+CONNFan=3" is a connection, and
// "Fan=3" the device's first words). F or E alone after it is the module's refusal.
void ConsoleSession::judgeConnection(TalkActions& actions, Micros now)
{
    std::string_view rest = reply_;
    bool accepted = false;
    while (startsWith(rest, std::string(connectionWord) + "A")) {
        rest.remove_prefix(connectionWord.size() + 1);
        accepted = true;
    }
    if (accepted && rest.empty() && now < firstByteAt_ + ConnectLimit) {
        deadline_ = firstByteAt_ + ConnectLimit;
        actions.wakeAt = nextWake();
        return;
    }
    const bool answered = startsWith(rest, connectionWord);
    std::string_view after = answered ? rest.substr(connectionWord.size()) : std::string_view();
    std::string_view state = after.substr(0, after.find_last_not_of("\r\n") + 1);
    const bool refused = answered && (state == "F" || state == "E");
    const std::string_view answer = std::string_view(reply_).substr(0, reply_.size() - (refused ? 0 : after.size()));
    actions.transcript.push_back({Exchange::Replied, std::string(answer), answered || accepted});
    const std::string quoted = QuotedReply(reply_, replyLength_);
    if (!answered && !accepted)
        finish(actions, TalkEnd::NotConnected, "The module answered " + shownCommand() + " with " + quoted);
    else if (!answered)
        finish(actions, TalkEnd::NotConnected,
               "The module took " + shownCommand() + " but did not connect within " + seconds(ConnectLimit));
    else if (refused)
        finish(actions, TalkEnd::NotConnected, "The module could not connect: it answered " + shownCommand() + " with " + quoted);
    else {
        actions.relayed = std::string(after);
        finish(actions, TalkEnd::Connected,
               "Connected to " + ColonAddress(command_.substr(ConnectCommandWord.size() + 1))
                   + "; the module now passes on what is sent", Phase::Connected);
    }
}

TalkActions ConsoleSession::Stop()
{
    TalkActions actions;
    if (!busy())
        return actions;
    if (phase_ == Phase::Collecting || phase_ == Phase::Connecting)
        actions.transcript.push_back({Exchange::Replied, reply_, false});
    if (operation_ == Operation::Discovery) {
        parseDiscovery(actions, Parsing::Final);
        finish(actions, TalkEnd::Stopped, "Stopped; " + deviceCount());
    } else if (operation_ == Operation::Connection) {
        finish(actions, TalkEnd::Stopped,
               "Stopped while connecting to " + ColonAddress(command_.substr(ConnectCommandWord.size() + 1)));
    } else {
        finish(actions, TalkEnd::Stopped, "Stopped while waiting for the reply to " + shownCommand());
    }
    return actions;
}

TalkActions ConsoleSession::PortFailed(std::string_view reason)
{
    TalkActions actions;
    if (phase_ == Phase::Dead)
        return actions;
    if (phase_ == Phase::Collecting || phase_ == Phase::Connecting)
        actions.transcript.push_back({Exchange::Replied, reply_, false});
    finish(actions, TalkEnd::PortFailed, "The port failed (" + std::string(reason) + ")", Phase::Dead);
    return actions;
}

void ConsoleSession::finish(TalkActions& actions, TalkEnd end, std::string message, Phase next)
{
    phase_ = next;
    actions.wakeAt.reset();
    actions.outcome = TalkOutcome{end, std::move(message), operation_ == Operation::Discovery ? devicesNotKept_ : 0};
}

} // namespace qz::serial
