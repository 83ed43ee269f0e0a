#include "SendSession.h"

#include <algorithm>

namespace qz::serial {

namespace {

constexpr std::string_view probeCommand = "AT";

bool beginsWithOK(std::string_view reply)
{
    return reply.substr(0, 2) == "OK";
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

std::string milliseconds(Micros time)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(time).count()) + " ms";
}

// What a failed probe means, and what to look at.
constexpr std::string_view probeAdvice =
    ", so no command of the list was sent and nothing has changed on the module. Check the port, the rate (the "
    "factory rate is 9600) and that no central device is connected to the module";

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

std::string EscapedBytes(std::string_view bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    for (char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 32 || code >= 127)
            shown.append("\\x").append(1, hex[code / 16]).append(1, hex[code % 16]);
        else
            shown += c;
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
    return probing() ? probe : commands_[static_cast<std::size_t>(current_)];
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

void SendSession::send(Actions& actions, Micros now, const std::string& command)
{
    actions.write = command + std::string(LineEndingBytes(settings_.lineEnding));
    actions.transcript.push_back({Exchange::Sent, command});
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
    if (phase_ == Phase::NotStarted || phase_ == Phase::Finished)
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
        actions.transcript.push_back({Exchange::NoReply, {}});
        if (probing())
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
    case Phase::Finished: break;
    }
    return actions;
}

void SendSession::completeReply(Actions& actions, Micros now)
{
    const bool taken = beginsWithOK(reply_);
    actions.transcript.push_back({Exchange::Replied, reply_, taken});
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
    if (probing()) {
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
        actions.transcript.push_back({Exchange::Replied, reply_, false});
}

void SendSession::sendNext(Actions& actions, Micros now)
{
    ++current_;
    send(actions, now, currentCommand());
}

Actions SendSession::Stop(Micros now)
{
    Actions actions;
    if (phase_ == Phase::Finished)
        return actions;
    stopRequested_ = true;
    // Between commands nothing is in flight, so the session can end at once.
    if (phase_ == Phase::Pausing) {
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
    finish(actions, Ending::Stopped, "Stopped before " + shownCommand() + " was sent; " + takenSoFar());
    return actions;
}

Actions SendSession::PortFailed(std::string_view reason)
{
    Actions actions;
    if (phase_ == Phase::Finished)
        return actions;
    std::string message = "The port failed (" + std::string(reason) + ")";
    if (probing())
        message += " before the module answered AT; no command of the list was sent. " + takenSoFar();
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
    actions.verdict = Verdict{ending, taken_, total(), std::move(message), baudRate_};
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
