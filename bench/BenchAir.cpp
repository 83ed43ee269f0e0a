#include "BenchAir.h"

#include "FakeBluez.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
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
    std::vector<double> latencies;
    for (int round = 0; round < 10; ++round) {
        const std::string stamp = std::string(folder) + "/stamp" + std::to_string(round);
        const nlohmann::json advert = {{"address", "11:22:33:44:55:66"},
                                       {"after_ms", 200},
                                       {"stamp", stamp},
                                       {"manufacturer", qz::test::BeaconData("0000FFF000001000800000805F9B34FB", "278B", "278D")}};
        qz::test::FakeBluez bluez(bus, qz::test::OneAdapter({advert}));
        const Run run = runQzconfig({"verify", "ibeacon", "--timeout=5"});
        if (run.status == 0)
            latencies.push_back((run.firstLineAt - stampOf(stamp)) * 1000);
    }
    qz::test::FakeBluez silent(bus, qz::test::OneAdapter());
    const Run brief = runQzconfig({"verify", "ibeacon", "--timeout=1"});
    const Run longer = runQzconfig({"verify", "ibeacon", "--timeout=4"});
    if (latencies.size() < 10) {
        std::printf("%-32s %s\n", "advertisement to verdict", "not measured: the module was not heard");
        return false;
    }
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[latencies.size() / 2];
    const double worst = latencies.back();
    const double idle = (longer.cpuSeconds - brief.cpuSeconds) * 1000 / 3;
    std::printf("%-32s %9.1f ms %9.1f ms %8s %6.0f ms%s\n", "advertisement to verdict", median, worst, "(worst)",
                latencyGoalMs, worst <= latencyGoalMs ? "" : "  MISSED");
    std::printf("%-32s %9.2f ms %12s %8s %6.0f ms%s\n", "CPU per second heard nothing", idle, "", "",
                idleGoalMsPerSecond, idle <= idleGoalMsPerSecond ? "" : "  MISSED");
    return worst <= latencyGoalMs && idle <= idleGoalMsPerSecond;
}
