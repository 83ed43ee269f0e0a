#pragma once

// A module on a pseudo-terminal for tests: it records every byte it receives and answers
// each command as its script says. A command ends when no byte has come for a few
// milliseconds, as the module takes commands without a line ending.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qz::test {

struct FakeModuleOptions {
    // A command is complete after this long without a byte.
    std::chrono::microseconds commandEnd = std::chrono::milliseconds(15);
    // Holds each reply back for the time the command and the reply take on a real line
    // at the port's rate, as a module behind a UART would.
    bool emulateWire = false;
};

class FakeModule {
public:
    struct Piece {
        std::chrono::milliseconds after; // since the command was complete
        std::string bytes;
    };
    struct Reply {
        std::vector<Piece> pieces; // none: silence
        bool hangUp = false;       // then the line goes dead, as an unplugged adapter
        // Sends the last piece again at this interval for ever (zero: as fast as the line
        // takes it), as a module in data mode or noise at a wrong rate does.
        std::optional<std::chrono::milliseconds> repeatLast = std::nullopt;
    };
    // Gets the command without a trailing CR or LF.
    using Script = std::function<Reply(const std::string& command)>;

    struct Received {
        std::string bytes; // exactly as they came, line ending included
        int baudRate;      // the port's rate when they came
        std::chrono::steady_clock::time_point firstByte;
    };

    using Options = FakeModuleOptions;

    // Answers "OK" to everything.
    FakeModule();
    explicit FakeModule(Script script, Options options = {});
    ~FakeModule();
    FakeModule(const FakeModule&) = delete;
    FakeModule& operator=(const FakeModule&) = delete;

    const std::string& path() const { return path_; }
    std::vector<Received> received() const;
    std::vector<std::string> commands() const; // received, line endings cut off
    // When each reply's last byte went out.
    std::vector<std::chrono::steady_clock::time_point> replyEnds() const;

    static Reply ok(std::string text = "OK");
    // Bytes that keep coming after a first piece, every interval.
    static Reply endless(std::string bytes, std::chrono::milliseconds interval);

    // Total bytes sent so far, replies and streams.
    std::size_t bytesSent() const { return bytesSent_; }

private:
    struct Outgoing {
        std::chrono::steady_clock::time_point at;
        std::string bytes;
        bool last; // of its reply
    };

    void run();
    void schedule(const Received& command);
    void sendDue();

    std::vector<Outgoing> outgoing_; // in time order; touched by the module's thread only
    std::optional<std::chrono::milliseconds> repeatLast_;
    bool hangUpAfterLast_ = false;
    std::atomic<std::size_t> bytesSent_{0};

    Script script_;
    Options options_;
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<Received> received_;
    std::vector<std::chrono::steady_clock::time_point> replyEnds_;
    std::thread thread_;
};

} // namespace qz::test
