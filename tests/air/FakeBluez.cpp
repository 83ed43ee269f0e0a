#include "FakeBluez.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace qz::test {

namespace {

// dbus-daemon wants a <listen> even beside --address, and refuses a comment holding two dashes.
constexpr const char* busConfiguration = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>custom</type>
  <listen>LISTEN</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

bool exists(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

// Waits up to five seconds for a file to appear; false when it does not.
bool awaitFile(const std::string& path)
{
    for (int i = 0; i < 500; ++i) {
        if (exists(path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Starts a program with its output going to the file named, for reading when a test fails.
pid_t spawn(const std::vector<std::string>& arguments, const std::string& output)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int file = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(file, STDOUT_FILENO);
        ::dup2(file, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

void end(pid_t& pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

} // namespace

FakeSystemBus::FakeSystemBus(const std::string& folder) : folder_(folder)
{
    std::filesystem::create_directories(folder_);
    // A socket's path holds at most 107 bytes, fewer than a test's folder may take.
    char socketFolder[] = "/tmp/qz-bus-XXXXXX";
    if (::mkdtemp(socketFolder) == nullptr)
        return;
    socketFolder_ = socketFolder;
    const std::string socket = socketFolder_ + "/system_bus_socket";
    address_ = "unix:path=" + socket;
    std::string configuration = busConfiguration;
    configuration.replace(configuration.find("LISTEN"), 6, address_);
    const std::string configurationFile = folder_ + "/bus.conf";
    std::ofstream(configurationFile) << configuration;
    pid_ = spawn({"/usr/bin/dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + configurationFile},
                 folder_ + "/bus.out");
    if (!awaitFile(socket))
        end(pid_);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

FakeSystemBus::~FakeSystemBus()
{
    end(pid_);
    if (!socketFolder_.empty())
        std::filesystem::remove_all(socketFolder_);
}

FakeBluez::FakeBluez(const FakeSystemBus& bus, nlohmann::json scenario)
{
    static int started = 0;
    const std::string stem = bus.folder() + "/bluez" + std::to_string(::getpid()) + "-" + std::to_string(++started);
    const std::string ready = stem + ".ready";
    log_ = stem + ".log";
    ::unlink(ready.c_str());
    ::unlink(log_.c_str());
    scenario["ready"] = ready;
    scenario["log"] = log_;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
    // The python3 first on PATH may not be the one Debian's dbusmock is installed for.
    pid_ = spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", FAKE_BLUEZ_TEMPLATE, "--parameters",
                  scenario.dump()},
                 stem + ".out");
    if (!awaitFile(ready))
        end(pid_);
}

FakeBluez::~FakeBluez()
{
    end(pid_);
}

std::vector<std::string> FakeBluez::calls() const
{
    std::vector<std::string> lines;
    std::ifstream file(log_);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

nlohmann::json OneAdapter(nlohmann::json adverts)
{
    return {{"adapters", {{{"name", "hci0"}, {"powered", true}}}}, {"adverts", std::move(adverts)}};
}

nlohmann::json BeaconData(const std::string& uuidDigits, const std::string& majorDigits,
                          const std::string& minorDigits, const std::string& powerDigits)
{
    return {{"76", "0215" + uuidDigits + majorDigits + minorDigits + powerDigits}};
}

} // namespace qz::test
