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

// qzconfig running, with a pipe to its standard input and its standard output collected;
// standard error goes with it, or apart when errApart.
class QzconfigProcess {
public:
    explicit QzconfigProcess(const std::vector<std::string>& args, bool errApart = false)
    {
        int in[2];
        int out[2];
        int err[2];
        if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errApart ? err[1] : out[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<char*> argv{const_cast<char*>(QZCONFIG_PATH)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn(&pid_, QZCONFIG_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        input_ = in[1];
        reader_ = std::thread([this, fd = out[0]] { collect(fd, output_); });
        errReader_ = std::thread([this, fd = err[0]] { collect(fd, errors_); });
    }
    ~QzconfigProcess()
    {
        if (pid_ > 0 && !ended_ && !exited())
            kill(pid_, SIGKILL), wait();
        join();
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
    // The end of standard input.
    void closeInput()
    {
        if (input_ >= 0)
            close(input_);
        input_ = -1;
    }
    void signal(int number) { kill(pid_, number); }
    // Whether it has ended; wait() still gives its status.
    bool exited()
    {
        if (!reaped_ && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_)
            reaped_ = true;
        return reaped_;
    }
    // The exit status; a batch still running after 20 s is killed and counts as a failure,
    // so that a batch that never ends fails the test instead of hanging it.
    int wait()
    {
        int status = 0;
        for (int tick = 0; tick < 2000 && !exited(); ++tick)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (exited()) {
            status = status_;
        } else {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            status = -1;
        }
        ended_ = true;
        closeInput();
        join();
        if (status == -1)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string output()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return output_;
    }

    // How often the output holds text by now.
    int occurrences(const std::string& text)
    {
        const std::string all = output();
        int count = 0;
        for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++count;
        return count;
    }

    // Standard error, when it was kept apart.
    std::string errors()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return errors_;
    }

private:
    void collect(int fd, std::string& into)
    {
        char buffer[512];
        ssize_t count;
        while ((count = read(fd, buffer, sizeof buffer)) > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            into.append(buffer, static_cast<std::size_t>(count));
        }
        close(fd);
    }
    void join()
    {
        for (std::thread* reader : {&reader_, &errReader_}) {
            if (reader->joinable())
                reader->join();
        }
    }

    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    int input_ = -1;
    bool ended_ = false;
    std::thread reader_;
    std::thread errReader_;
    std::mutex mutex_;
    std::string output_;
    std::string errors_;
};

} // namespace qz::test
