// qzconfig sessions that must end cleanly whatever the module, the output or the user
// does: nothing is sent after a failure is known, and the exit status says what happened.

#include "FakeModule.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using qz::test::FakeModule;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

enum class Output { File, ClosedAfterFirstLine, Closed, Full };

struct Ended {
    int status = -1;
    std::string err;
    Clock::duration took{};
};

std::string readAll(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs qzconfig; sends signal (if any) once its standard output shows afterLines lines.
Ended runSession(const std::vector<std::string>& args, Output output, int signal = 0, int afterLines = 0)
{
    char errPath[] = "/tmp/qzconfig-err-XXXXXX";
    const int errFd = mkstemp(errPath);
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output == Output::Closed)
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    else if (output == Output::Full)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv{const_cast<char*>(QZCONFIG_PATH)};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    Ended ended;
    const auto began = Clock::now();
    pid_t pid = 0;
    const bool spawned = posix_spawn(&pid, QZCONFIG_PATH, &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned) {
        std::string out;
        char byte = 0;
        int lines = 0;
        // A session that never ends fails the test within 20 s instead of hanging it.
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        pollfd readable{pipeFds[0], POLLIN, 0};
        while (Clock::now() < deadline && poll(&readable, 1, 100) >= 0
               && ((readable.revents & (POLLIN | POLLHUP)) == 0 || read(pipeFds[0], &byte, 1) == 1)) {
            if ((readable.revents & POLLIN) == 0)
                continue;
            lines += byte == '\n' ? 1 : 0;
            if (output == Output::ClosedAfterFirstLine && lines == 1)
                break;
            if (signal != 0 && lines == afterLines && byte == '\n')
                kill(pid, signal);
        }
        close(pipeFds[0]);
        int wstatus = 0;
        if (Clock::now() >= deadline)
            kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
        ended.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    }
    ended.took = Clock::now() - began;
    close(errFd);
    ended.err = readAll(errPath);
    std::remove(errPath);
    return ended;
}

FakeModule::Script slowAt(int delayMs)
{
    return [delayMs](const std::string&) { return FakeModule::Reply{{{milliseconds(delayMs), "OK"}}}; };
}

TEST(QzconfigSession, EndsCleanlyAndSendsNothingAfterAFailureIsKnown)
{
    struct Case {
        const char* name;
        FakeModule::Script script;
        Output output;
        int signal;
        int status;
        std::string err; // the part after "qzconfig: --port PATH: ", or the whole line
        std::vector<std::string> received;
    };
    const std::vector<std::string> all = {"AT", "AT+RENEW", "AT+IBEA1", "AT+IBE00000FFF0", "AT+IBE100001000",
                                          "AT+IBE280000080", "AT+IBE35F9B34FB", "AT+MARJ0x278B", "AT+MINO0x278D"};
    const Case cases[] = {
        {"output closed after the first line (| head -1)", slowAt(1), Output::ClosedAfterFirstLine, 0, 3,
         "qzconfig: cannot write standard output: Broken pipe", {"AT"}},
        {"standard output closed from the start", slowAt(1), Output::Closed, 0, 0, "", all},
        {"Ctrl-C", slowAt(100), Output::File, SIGINT, 130,
         "Interrupted; 2 of 8 commands were taken; the module is partly set up", {"AT", "AT+RENEW", "AT+IBEA1"}},
        {"SIGTERM", slowAt(100), Output::File, SIGTERM, 143,
         "Interrupted; 2 of 8 commands were taken; the module is partly set up", {"AT", "AT+RENEW", "AT+IBEA1"}},
        {"a module that never stops", [](const std::string&) { return FakeModule::endless("data ", milliseconds(1)); },
         Output::File, 0, 3, "The module kept sending in reply to AT: ", {"AT"}},
        // A full disk is told once, as the output's failure; nothing is sent after it.
        {"output full", slowAt(1), Output::Full, 0, 3, "", {}},
        {"output full, a module that never stops",
         [](const std::string&) { return FakeModule::endless("data ", milliseconds(1)); }, Output::Full, 0, 3, "", {}},
        {"output full, a port that hangs up", [](const std::string&) { return FakeModule::Reply{{}, true}; },
         Output::Full, 0, 3, "", {}},
    };
    for (const Case& c : cases) {
        FakeModule module(c.script);
        // The signal comes as "> AT+IBEA1" is shown; the reply to it still counts.
        const Ended ended = runSession({"ibeacon", "--port=" + module.path()}, c.output, c.signal, 5);
        EXPECT_EQ(ended.status, c.status) << c.name << ": " << ended.err;
        if (c.output == Output::Full)
            EXPECT_EQ(ended.err, "qzconfig: cannot write standard output: No space left on device\n") << c.name;
        else
            EXPECT_NE(ended.err.find(c.err), std::string::npos) << c.name << ": " << ended.err;
        EXPECT_LT(ended.took, std::chrono::seconds(10)) << c.name;
        std::this_thread::sleep_for(milliseconds(60));
        EXPECT_EQ(module.commands(), c.received) << c.name;
    }
}

TEST(QzconfigSession, ASecondSessionOnTheSameDeviceIsRefusedWithoutAByte)
{
    FakeModule module(slowAt(100));
    const std::string link = testing::TempDir() + "qz-module-link";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(module.path(), link);
    std::thread first([&] { runSession({"ibeacon", "--port=" + module.path()}, Output::File); });
    std::this_thread::sleep_for(milliseconds(150));
    const Ended second = runSession({"ibeacon", "--port=" + link}, Output::File);
    first.join();
    EXPECT_EQ(second.status, 3);
    EXPECT_NE(second.err.find(": cannot open it: busy: another program holds it"), std::string::npos) << second.err;
    EXPECT_EQ(module.commands().size(), 9u);
    EXPECT_EQ(module.commands()[1], "AT+RENEW");
}

TEST(QzconfigSession, MessagesEscapeThePortPath)
{
    const Ended ended = runSession({"ibeacon", "--port=/dev/qz\x1b[31mred"}, Output::File);
    EXPECT_EQ(ended.status, 3);
    EXPECT_EQ(ended.err, "qzconfig: --port /dev/qz\\x1B[31mred: cannot open it: no such device\n");
}

} // namespace
