#include "FakeModule.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace qz::test {

namespace {

using Clock = std::chrono::steady_clock;

// Start, data and stop bits.
std::chrono::microseconds wireTime(std::size_t bytes, int baudRate)
{
    return std::chrono::microseconds(baudRate > 0 ? static_cast<long long>(bytes) * 10 * 1000000 / baudRate : 0);
}

int baudRateOf(int fd)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        return 0;
    switch (cfgetospeed(&settings)) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

std::string withoutLineEnding(std::string bytes)
{
    while (!bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n'))
        bytes.pop_back();
    return bytes;
}

} // namespace

FakeModule::FakeModule()
    : FakeModule([](const std::string&) { return ok(); })
{
}

FakeModule::FakeModule(Script script, Options options)
    : script_(std::move(script))
    , options_(options)
{
    char name[128] = {};
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B9600);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
        throw std::runtime_error("no pseudo-terminal");
    path_ = name;
    // A program under test must not inherit the module's end of the line, or closing it
    // here would hang nothing up.
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    // A flood must not block the module when nobody reads the line.
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    // The slave stays open here too, so that the line lives on between sessions and its
    // settings (the rate) can be read.
    thread_ = std::thread([this] { run(); });
}

FakeModule::~FakeModule()
{
    stopping_ = true;
    thread_.join();
    if (master_ >= 0)
        close(master_);
    close(slave_);
}

FakeModule::Reply FakeModule::ok(std::string text)
{
    return {{{std::chrono::milliseconds(1), std::move(text)}}, false};
}

std::vector<FakeModule::Received> FakeModule::received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::vector<std::string> FakeModule::commands() const
{
    std::vector<std::string> commands;
    for (const Received& command : received())
        commands.push_back(withoutLineEnding(command.bytes));
    return commands;
}

std::vector<Clock::time_point> FakeModule::replyEnds() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return replyEnds_;
}

FakeModule::Reply FakeModule::endless(std::string bytes, std::chrono::milliseconds interval)
{
    Reply reply{{{std::chrono::milliseconds(1), std::move(bytes)}}, false, interval};
    return reply;
}

void FakeModule::run()
{
    Received pending{{}, 0, {}};
    Clock::time_point lastByte;
    while (!stopping_ && master_ >= 0) {
        int waitMs = 2;
        if (!outgoing_.empty()) {
            const auto untilDue = std::chrono::duration_cast<std::chrono::milliseconds>(outgoing_.front().at - Clock::now());
            waitMs = static_cast<int>(std::max<long long>(0, std::min<long long>(waitMs, untilDue.count())));
        }
        pollfd watch{master_, POLLIN, 0};
        if (poll(&watch, 1, waitMs) > 0 && (watch.revents & POLLIN) != 0) {
            char buffer[256];
            const ssize_t count = read(master_, buffer, sizeof buffer);
            if (count > 0) {
                if (pending.bytes.empty()) {
                    pending.firstByte = Clock::now();
                    pending.baudRate = baudRateOf(slave_);
                }
                pending.bytes.append(buffer, static_cast<std::size_t>(count));
                lastByte = Clock::now();
            }
        }
        sendDue();
        if (!pending.bytes.empty() && Clock::now() - lastByte >= options_.commandEnd) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back(pending);
            }
            // A module busy streaming takes no commands, but every byte is recorded.
            if (outgoing_.empty())
                schedule(pending);
            pending = {{}, 0, {}};
        }
    }
}

void FakeModule::schedule(const Received& command)
{
    const Reply reply = script_(withoutLineEnding(command.bytes));
    Clock::time_point complete = Clock::now();
    if (options_.emulateWire)
        complete = command.firstByte + wireTime(command.bytes.size(), command.baudRate);
    for (std::size_t i = 0; i < reply.pieces.size(); ++i) {
        const Piece& piece = reply.pieces[i];
        const auto onTheWire = options_.emulateWire ? wireTime(piece.bytes.size(), command.baudRate) : Clock::duration();
        outgoing_.push_back({complete + piece.after + onTheWire, piece.bytes, i + 1 == reply.pieces.size()});
    }
    repeatLast_ = reply.repeatLast;
    hangUpAfterLast_ = reply.hangUp;
    if (reply.pieces.empty() && reply.hangUp) {
        close(master_);
        master_ = -1;
    }
}

void FakeModule::sendDue()
{
    while (!outgoing_.empty() && outgoing_.front().at <= Clock::now()) {
        Outgoing& due = outgoing_.front();
        const ssize_t written = write(master_, due.bytes.data(), due.bytes.size());
        if (written < 0)
            return; // the line is full (nobody reads it): try again later
        bytesSent_ += static_cast<std::size_t>(written);
        if (!due.last) {
            outgoing_.erase(outgoing_.begin());
            continue;
        }
        if (repeatLast_) {
            due.at = Clock::now() + *repeatLast_;
            return;
        }
        outgoing_.clear();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            replyEnds_.push_back(Clock::now());
        }
        if (hangUpAfterLast_) {
            // An adapter unplugged mid-reply has delivered what it sent; a pty hung up at
            // once would drop it from the line.
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            close(master_);
            master_ = -1;
        }
    }
}

} // namespace qz::test
