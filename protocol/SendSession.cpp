#include "SendSession.h"

#include "FieldRules.h"

#include <algorithm>

namespace qz::serial {

namespace {

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string_view withoutPrefix(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix ? text.substr(prefix.size()) : text;
}

// A number's hex digits without a 0x and without leading zeros, upper case; nothing when
// text is no hex number.
std::optional<std::string> hexNumber(std::string_view text)
{
    text = withoutPrefix(withoutPrefix(text, "0x"), "0X");
    // The field rules know capitals only: a module may echo either case.
    const std::string digits = UpperCase(std::string(text));
    if (digits.empty() || !AllHexDigits(digits))
        return std::nullopt;
    return digits.substr(std::min(digits.find_first_not_of('0'), digits.size() - 1));
}

// What a command sets: the text after its word ("AT+ADDR", "AT+IBE0", "AT+Z4"). A word
// these modules know is matched whole, so that a name that begins with capitals is no part
// of AT+NAME; another word is its letters.
std::string_view parameterOf(std::string_view command)
{
    static constexpr std::string_view words[] = {"NAME", "ADDR", "MARJ", "MINO", "IBEA", "IBE0", "IBE1", "IBE2",
                                                 "IBE3", "Z1",   "Z2",   "Z3",   "Z4",   "Z5",   "Z6",   "UUID",
                                                 "CHAR", "128B", "IMME", "SHOW", "COMP", "NOTI", "ROLE"};
    const std::string_view rest = withoutPrefix(command, "AT+");
    for (std::string_view word : words) {
        if (rest.substr(0, word.size()) == word)
            return rest.substr(word.size());
    }
    std::size_t word = 0;
    while (word < rest.size() && isLetter(rest[word]))
        ++word;
    return rest.substr(word);
}

bool echoMatches(std::string_view command, std::string_view echoed)
{
    const std::string_view parameter = parameterOf(command);
    if (echoed == parameter)
        return true;
    const std::optional<std::string> sent = hexNumber(parameter);
    return sent && sent == hexNumber(echoed);
}

// AT+RENEW restores the factory rate as well; both restart the module.
bool restartsModule(std::string_view command)
{
    return command == "AT+RENEW" || command == "AT+RESET";
}

bool restoresFactoryRate(std::string_view command)
{
    return command == "AT+RENEW";
}

constexpr std::string_view probeCommand = "AT";

std::string milliseconds(Micros time)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(time).count()) + " ms";
}

// What a failed probe means, and what to look at.
constexpr std::string_view probeAdvice =
    ", so no command of the list was sent and nothing has changed on the module. Check the port, the rate (the "
    "factory rate is 9600) and that no central device is connected to the module";

} // namespace

bool ReplyMeansYes(std::string_view command, std::string_view reply)
{
    while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n'))
        reply.remove_suffix(1);
    if (reply == "OK")
        return true;
    if (reply.substr(0, 3) != "OK+")
        return false;
    const std::string_view said = reply.substr(3);
    if (said.substr(0, 4) == "FAIL" || said.substr(0, 3) == "ERR" || said.empty())
        return false;
    // "OK+Set:VALUE" and its kind echo what was set; "OK+RENEW" echoes no value.
    const std::size_t colon = said.find(':');
    return colon == std::string_view::npos || echoMatches(command, said.substr(colon + 1));
}

namespace {

// The module's own address in its answer to AddressQuestion, or nothing: "OK+ADDR:" (or, in
// some firmware, "OK+Get:") and the address, which some write in pairs with colons.
std::optional<std::string> toldAddress(std::string_view reply)
{
    while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n'))
        reply.remove_suffix(1);
    std::string_view told;
    for (std::string_view answer : {AddressAnswer, std::string_view("OK+Get:")}) {
        if (reply.substr(0, answer.size()) == answer)
            told = reply.substr(answer.size());
    }
    return AddressDigitsOf(told);
}

} // namespace

Micros WireTime(std::size_t byteCount, int baudRate)
{
    constexpr long long bitsPerByte = 10; // start, data and stop bits
    return Micros(static_cast<long long>(byteCount) * bitsPerByte * 1000000 / baudRate);
}

std::string_view LineEndingBytes(LineEnding ending)
{
    switch (ending) {
    case LineEnding::CR: return "\r";
    case LineEnding::LF: return "\n";
    case LineEnding::CRLF: return "\r\n";
    case LineEnding::None: break;
    }
    return {};
}

namespace {

// The length of the UTF-8 sequence at the start of text; 0 when it is none.
std::size_t sequenceLength(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || text.size() < length)
        return 0;
    for (std::size_t at = 1; at < length; ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// Characters a terminal shows as nothing, or as a plain space: a byte-order mark, the
// zero-width ones, the C1 controls, a no-break space, the line and paragraph separators.
bool invisible(std::string_view sequence)
{
    static constexpr std::string_view hidden[] = {"\xEF\xBB\xBF", "\xC2\xA0", "\xE2\x80\x8B", "\xE2\x80\x8C",
                                                  "\xE2\x80\x8D", "\xE2\x80\x8E", "\xE2\x80\x8F", "\xE2\x80\xA8",
                                                  "\xE2\x80\xA9", "\xE2\x81\xA0"};
    const bool c1Control = sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xC2
        && static_cast<unsigned char>(sequence[1]) < 0xA0;
    return c1Control || std::find(std::begin(hidden), std::end(hidden), sequence) != std::end(hidden);
}

} // namespace

std::string EscapedBytes(std::string_view bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    const auto escape = [&shown](char c) {
        const auto code = static_cast<unsigned char>(c);
        shown.append("\\x").append(1, hex[code / 16]).append(1, hex[code % 16]);
    };
    for (std::size_t at = 0; at < bytes.size();) {
        const auto code = static_cast<unsigned char>(bytes[at]);
        if (code >= 32 && code < 127) {
            shown += bytes[at++];
            continue;
        }
        // Text in another script shows as it is (Café, Küche); what cannot be
        // seen, or is no text, is escaped, so that two names that differ only there differ
        // as shown.
        const std::size_t length = code < 128 ? 0 : sequenceLength(bytes.substr(at));
        const std::string_view sequence = bytes.substr(at, std::max<std::size_t>(length, 1));
        if (length == 0 || invisible(sequence)) {
            for (char c : sequence)
                escape(c);
        } else {
            shown += sequence;
        }
        at += sequence.size();
    }
    return shown;
}

std::string QuotedReply(std::string_view reply, std::size_t length)
{
    if (length <= QuotedReplyBytes)
        return "\"" + EscapedBytes(reply) + "\"";
    return "\"" + EscapedBytes(reply.substr(0, QuotedReplyBytes)) + "...\" (" + std::to_string(length) + " bytes)";
}

std::string TakenSummary(int taken, int total)
{
    std::string text = std::to_string(taken) + " of " + std::to_string(total) + " commands were taken";
    if (taken > 0 && taken < total)
        text += "; the module is partly set up";
    return text;
}

std::string TranscriptLine(const Exchange& exchange)
{
    switch (exchange.kind) {
    case Exchange::Sent: return "> " + EscapedBytes(exchange.bytes);
    case Exchange::Replied: return "< " + EscapedBytes(exchange.bytes);
    case Exchange::NoReply: break;
    }
    return "< (no reply)";
}

SendSession::SendSession(std::vector<std::string> commands, SessionSettings settings)
    : commands_(std::move(commands))
    , settings_(settings)
    , baudRate_(settings.baudRate)
{
}

const std::string& SendSession::currentCommand() const
{
    static const std::string probe(probeCommand);
    static const std::string question(AddressQuestion);
    if (probing())
        return probe;
    return asking() ? question : commands_[static_cast<std::size_t>(current_)];
}

Actions SendSession::Start(Micros now)
{
    Actions actions;
    if (phase_ != Phase::NotStarted)
        return actions;
    if (stopRequested_) {
        finish(actions, Ending::Stopped, "Stopped before anything was sent; " + takenSoFar());
        return actions;
    }
    send(actions, now, currentCommand());
    return actions;
}

Exchange SendSession::exchange(Exchange::Kind kind, std::string bytes, bool taken) const
{
    const Exchange::Role role = probing() ? Exchange::Probe : asking() ? Exchange::Question : Exchange::ListCommand;
    return {kind, std::move(bytes), taken, role};
}

void SendSession::send(Actions& actions, Micros now, const std::string& command)
{
    actions.write = command + std::string(LineEndingBytes(settings_.lineEnding));
    actions.transcript.push_back(exchange(Exchange::Sent, command));
    if (current_ >= 0)
        sent_ = current_ + 1;
    reply_.clear();
    replyLength_ = 0;
    phase_ = Phase::AwaitingReply;
    onTheWireAt_ = now + WireTime(actions.write.size(), baudRate_);
    deadline_ = onTheWireAt_ + settings_.replyTimeout;
    actions.wakeAt = nextWake();
}

Micros SendSession::nextWake() const
{
    return std::min(deadline_, stopBy_);
}

Actions SendSession::BytesArrived(Micros now, std::string_view bytes)
{
    Actions actions;
    // Bytes outside a reply (a module restarting, say) belong to no command.
    if (bytes.empty() || (phase_ != Phase::AwaitingReply && phase_ != Phase::Collecting))
        return actions;
    if (phase_ == Phase::AwaitingReply)
        firstByteAt_ = now;
    reply_.append(bytes.substr(0, LongestReply - reply_.size()));
    replyLength_ += bytes.size();
    phase_ = Phase::Collecting;
    lastByteAt_ = now;
    if (replyLength_ > LongestReply) {
        finishKeptSending(actions, now);
        return actions;
    }
    // Complete after a quiet gap, but never while the command is still going out: a
    // module may answer its first bytes.
    deadline_ = std::min(std::max(now + QuietGap, onTheWireAt_), firstByteAt_ + LongestReplyTime);
    actions.wakeAt = nextWake();
    return actions;
}

Actions SendSession::TimePassed(Micros now)
{
    Actions actions;
    if (phase_ == Phase::NotStarted || phase_ == Phase::Finished || phase_ == Phase::Identified)
        return actions;
    if (now >= stopBy_) {
        const char* reached = phase_ == Phase::Collecting ? "before the reply to " : "while waiting for the reply to ";
        reportPartialReply(actions);
        finish(actions, Ending::Stopped, std::string("Stopped ") + reached + shownCommand() + "; " + takenSoFar());
        return actions;
    }
    if (now < deadline_) {
        actions.wakeAt = nextWake();
        return actions;
    }
    switch (phase_) {
    case Phase::AwaitingReply:
        actions.transcript.push_back(exchange(Exchange::NoReply));
        if (asking())
            addressTold(actions, {{}, "it did not answer " + std::string(AddressQuestion) + " within "
                                          + milliseconds(settings_.replyTimeout)});
        else if (probing())
            finish(actions, Ending::ProbeFailed,
                   "The module did not answer AT within " + milliseconds(settings_.replyTimeout)
                       + std::string(probeAdvice));
        else
            finish(actions, Ending::NoReply,
                   shownCommand() + " got no reply within " + milliseconds(settings_.replyTimeout) + "; "
                       + takenSoFar());
        break;
    case Phase::Collecting:
        // Due, yet bytes came within the quiet gap: only the reply's time bound wakes it so.
        if (now - lastByteAt_ < QuietGap)
            finishKeptSending(actions, now);
        else
            completeReply(actions, now);
        break;
    case Phase::Pausing: sendNext(actions, now); break;
    case Phase::NotStarted:
    case Phase::Identified:
    case Phase::Finished: break;
    }
    return actions;
}

void SendSession::completeReply(Actions& actions, Micros now)
{
    if (asking()) {
        const std::optional<std::string> address = toldAddress(reply_);
        actions.transcript.push_back(exchange(Exchange::Replied, reply_, address.has_value()));
        if (address)
            addressTold(actions, {*address, {}});
        else
            addressTold(actions, {{}, "it answered " + std::string(AddressQuestion) + " with "
                                          + QuotedReply(reply_, replyLength_) + ", not "
                                          + std::string(AddressAnswer) + " and 12 hex digits"});
        return;
    }
    const bool taken = ReplyMeansYes(currentCommand(), reply_);
    actions.transcript.push_back(exchange(Exchange::Replied, reply_, taken));
    if (!taken) {
        if (probing())
            finish(actions, Ending::ProbeFailed,
                   "The module answered AT with " + QuotedReply(reply_, replyLength_) + " instead of OK" + std::string(probeAdvice));
        else
            finish(actions, Ending::Refused,
                   "The module answered " + shownCommand() + " with " + QuotedReply(reply_, replyLength_) + "; "
                       + takenSoFar());
        return;
    }
    if (!probing())
        ++taken_;
    if (taken_ == total()) {
        finish(actions, Ending::AllTaken, takenSoFar());
        return;
    }
    if (stopRequested_) {
        finishStopped(actions);
        return;
    }
    if (!probing() && restartsModule(currentCommand())) {
        // The pause counts from the reply's last byte, however late this wake-up came.
        if (restoresFactoryRate(currentCommand()) && baudRate_ != FactoryBaudRate) {
            baudRate_ = FactoryBaudRate;
            actions.setBaudRate = baudRate_;
        }
        phase_ = Phase::Pausing;
        deadline_ = lastByteAt_ + RestartPause;
        actions.wakeAt = nextWake();
        return;
    }
    // The next command goes at the next wake-up, not with this reply: the owner reports
    // the reply first, and a stop that comes meanwhile is in force before anything is written.
    phase_ = Phase::Pausing;
    deadline_ = now;
    actions.wakeAt = deadline_;
}

void SendSession::finishKeptSending(Actions& actions, Micros now)
{
    reportPartialReply(actions);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now - firstByteAt_).count();
    std::string message = "The module kept sending in reply to " + shownCommand() + ": "
        + std::to_string(replyLength_) + " bytes in " + std::to_string(millis) + " ms, beginning "
        + QuotedReply(reply_, replyLength_) + "; ";
    if (current_ < 0) {
        message += "no command of the list was sent. Check the rate (the factory rate is 9600) and that no central "
                   "device is connected to the module";
        finish(actions, Ending::ProbeFailed, message);
    } else {
        finish(actions, Ending::Refused, message + takenSoFar());
    }
}

// The bytes of a reply cut short still belong in the transcript, before the verdict.
void SendSession::reportPartialReply(Actions& actions)
{
    if (phase_ == Phase::Collecting)
        actions.transcript.push_back(exchange(Exchange::Replied, reply_, false));
}

void SendSession::sendNext(Actions& actions, Micros now)
{
    if (probing() && settings_.askModuleAddress)
        current_ = askingAddress;
    else
        current_ = asking() ? 0 : current_ + 1;
    send(actions, now, currentCommand());
}

void SendSession::addressTold(Actions& actions, ModuleAddress told)
{
    if (stopRequested_) {
        finish(actions, Ending::Stopped, "Stopped before the list was sent; " + takenSoFar());
        return;
    }
    phase_ = Phase::Identified;
    actions.identified = std::move(told);
}

Actions SendSession::Proceed(Micros now, std::optional<std::vector<std::string>> commands)
{
    Actions actions;
    if (phase_ != Phase::Identified)
        return actions;
    if (commands)
        commands_ = std::move(*commands);
    sendNext(actions, now);
    return actions;
}

Actions SendSession::Withdraw(std::string why)
{
    Actions actions;
    if (phase_ == Phase::Identified)
        finish(actions, Ending::Withdrawn, std::move(why));
    return actions;
}

Actions SendSession::Stop(Micros now)
{
    Actions actions;
    if (phase_ == Phase::Finished)
        return actions;
    stopRequested_ = true;
    // Between commands nothing is in flight, so the session can end at once.
    if (phase_ == Phase::Pausing || phase_ == Phase::Identified) {
        finishStopped(actions);
        return actions;
    }
    stopBy_ = std::min(stopBy_, now + StopWait);
    if (phase_ != Phase::NotStarted)
        actions.wakeAt = nextWake();
    return actions;
}

Actions SendSession::WriteWithheld()
{
    Actions actions;
    if (phase_ != Phase::AwaitingReply)
        return actions;
    if (current_ >= 0)
        sent_ = current_;
    finish(actions, Ending::Stopped, "Stopped before " + shownCommand() + " was sent; " + takenSoFar());
    return actions;
}

Actions SendSession::PortFailed(std::string_view reason)
{
    Actions actions;
    if (phase_ == Phase::Finished)
        return actions;
    std::string message = "The port failed (" + std::string(reason) + ")";
    if (current_ < 0)
        message += " before the module answered " + shownCommand() + "; no command of the list was sent. " + takenSoFar();
    else if (phase_ == Phase::Pausing)
        message += " after " + shownCommand() + " was taken; " + takenSoFar();
    else
        message += " while waiting for the reply to " + shownCommand() + "; " + takenSoFar();
    reportPartialReply(actions);
    finish(actions, Ending::PortFailed, message);
    return actions;
}

void SendSession::finish(Actions& actions, Ending ending, std::string message)
{
    phase_ = Phase::Finished;
    actions.write.clear();
    actions.wakeAt.reset();
    actions.verdict = Verdict{ending, taken_, total(), std::move(message), baudRate_, sent_};
}

void SendSession::finishStopped(Actions& actions)
{
    finish(actions, Ending::Stopped, "Stopped; " + takenSoFar());
}

std::string SendSession::takenSoFar() const
{
    return TakenSummary(taken_, total());
}

// A command as messages quote it: control bytes escaped, as in the transcript.
std::string SendSession::shownCommand() const
{
    return EscapedBytes(currentCommand());
}

} // namespace qz::serial
