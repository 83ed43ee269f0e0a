#include "BenchAir.h"

#include "FakeBluez.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double latencyGoalMs = 100;
constexpr double idleGoalMsPerSecond = 5;

double monotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Run {
    double firstLineAt = 0; // when the verdict's first line arrived
    double cpuSeconds = 0;  // the program's user and system time
    int status = -1;
};

Run runQzconfig(const std::vector<std::string>& args)
{
    Run run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        std::vector<char*> argv{const_cast<char*>(QZCONFIG_PATH)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(QZCONFIG_PATH, argv.data());
        _exit(127);
    }
    close(out[1]);
    char byte;
    if (read(out[0], &byte, 1) == 1)
        run.firstLineAt = monotonicSeconds();
    while (read(out[0], &byte, 1) == 1) {
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return run;
}

double stampOf(const std::string& path)
{
    std::ifstream file(path);
    double stamp = 0;
    file >> stamp;
    return stamp;
}

// The time from each advertisement that makes the module heard as set to qzconfig's first
// line, over ten rounds: the worst, or nothing when one round was not heard as set.
std::optional<std::vector<double>> verdictLatencies(const qz::test::FakeSystemBus& bus, const std::string& folder,
                                                    nlohmann::json advert, bool monitor,
                                                    const std::vector<std::string>& args)
{
    std::vector<double> latencies;
    for (int round = 0; round < 10; ++round) {
        const std::string stamp = folder + "/stamp" + std::to_string(round);
        advert["stamp"] = stamp;
        nlohmann::json scenario = qz::test::OneAdapter({advert});
        if (monitor)
            scenario["adapters"][0]["monitor"] = true;
        qz::test::FakeBluez bluez(bus, scenario);
        const Run run = runQzconfig(args);
        if (run.status != 0)
            return std::nullopt;
        latencies.push_back((run.firstLineAt - stampOf(stamp)) * 1000);
    }
    std::sort(latencies.begin(), latencies.end());
    return latencies;
}

bool reportLatency(const char* what, const std::optional<std::vector<double>>& latencies)
{
    if (!latencies) {
        std::printf("%-32s %s\n", what, "not measured: the module was not heard as set");
        return false;
    }
    const double median = (*latencies)[latencies->size() / 2];
    const double worst = latencies->back();
    std::printf("%-32s %9.1f ms %9.1f ms %8s %6.0f ms%s\n", what, median, worst, "(worst)", latencyGoalMs,
                worst <= latencyGoalMs ? "" : "  MISSED");
    return worst <= latencyGoalMs;
}

} // namespace

bool ReportListening()
{
    char folder[] = "/tmp/qz-bench-air-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        return false;
    qz::test::FakeSystemBus bus(folder);
    if (!bus.running()) {
        std::printf("%-32s %s\n", "listening over the air", "not measured: no dbus-daemon");
        return false;
    }
    const nlohmann::json beacon = {{"address", "11:22:33:44:55:66"},
                                   {"after_ms", 200},
                                   {"manufacturer", qz::test::BeaconData("0000FFF000001000800000805F9B34FB", "278B", "278D")}};
    const auto beaconLatencies = verdictLatencies(bus, folder, beacon, false, {"verify", "ibeacon", "--timeout=5"});
    // bluetoothd -E: the name is heard as set only once its monitor found it in what was sent.
    const nlohmann::json lamp = {{"address", "00:0E:0B:12:34:56"}, {"after_ms", 200}, {"name", "Lamp-01"},
                                 {"raw", "08094C616D702D3031"}};
    const auto lampLatencies = verdictLatencies(
        bus, folder, lamp, true,
        {"verify", "broadcast", "--name=Lamp-01", "--address=000E0B123456", "--advert=08094C616D702D3031", "--same",
         "--timeout=5"});
    qz::test::FakeBluez silent(bus, qz::test::OneAdapter());
    const Run brief = runQzconfig({"verify", "ibeacon", "--timeout=1"});
    const Run longer = runQzconfig({"verify", "ibeacon", "--timeout=4"});
    const bool beaconMet = reportLatency("advertisement to verdict", beaconLatencies);
    const bool lampMet = reportLatency("  a name proven by a pattern", lampLatencies);
    const double idle = (longer.cpuSeconds - brief.cpuSeconds) * 1000 / 3;
    std::printf("%-32s %9.2f ms %12s %8s %6.0f ms%s\n", "CPU per second heard nothing", idle, "", "",
                idleGoalMsPerSecond, idle <= idleGoalMsPerSecond ? "" : "  MISSED");
    return beaconMet && lampMet && idle <= idleGoalMsPerSecond;
}
