#pragma once

// qzconfig as a process for tests: a pipe to its standard input, its standard output and
// error collected as they come, and an exit status that a hung program cannot withhold.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qz::test {

// qzconfig running, with a pipe to its standard input and its standard output collected.
class QzconfigProcess {
public:
    explicit QzconfigProcess(const std::vector<std::string>& args)
    {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv{const_cast<char*>(QZCONFIG_PATH)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn(&pid_, QZCONFIG_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        input_ = in[1];
        reader_ = std::thread([this, fd = out[0]] {
            char buffer[512];
            ssize_t count;
            while ((count = read(fd, buffer, sizeof buffer)) > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                output_.append(buffer, static_cast<std::size_t>(count));
            }
            close(fd);
        });
    }
    ~QzconfigProcess()
    {
        if (pid_ > 0 && !ended_)
            kill(pid_, SIGKILL), wait();
        if (reader_.joinable())
            reader_.join();
    }

    // Waits until the output holds text count times; false after 15 s.
    bool waitFor(const std::string& text, int count = 1)
    {
        for (int tick = 0; tick < 1500; ++tick) {
            if (occurrences(text) >= count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void type(const std::string& line) { [[maybe_unused]] ssize_t n = write(input_, line.data(), line.size()); }
    void pressEnter() { type("\n"); }
    void signal(int number) { kill(pid_, number); }
    // The exit status; a batch still running after 20 s is killed and counts as a failure,
    // so that a batch that never ends fails the test instead of hanging it.
    int wait()
    {
        int status = 0;
        for (int tick = 0; tick < 2000 && waitpid(pid_, &status, WNOHANG) == 0; ++tick)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            status = -1;
        }
        ended_ = true;
        close(input_);
        if (reader_.joinable())
            reader_.join();
        if (status == -1)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string output()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return output_;
    }

private:
    int occurrences(const std::string& text)
    {
        const std::string all = output();
        int count = 0;
        for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++count;
        return count;
    }

    pid_t pid_ = -1;
    int input_ = -1;
    bool ended_ = false;
    std::thread reader_;
    std::mutex mutex_;
    std::string output_;
};

} // namespace qz::test
