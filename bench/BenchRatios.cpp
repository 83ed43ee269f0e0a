// Measures each subject beside its floor in one run and prints one table of ratios.

#include "BenchAir.h"
#include "BenchValuesFile.h"
#include "BatchPlan.h"
#include "DurableFile.h"
#include "BeaconList.h"
#include "BroadcastList.h"
#include "FakeModule.h"
#include "SendSession.h"
#include "BenchLine.h"
#include "StudyList.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

using namespace qz;

// A generator's answer kept as views of constant strings, to rebuild it at the floor's cost.
class ConstantAnswer {
public:
    explicit ConstantAnswer(const GeneratorResult& answer)
        : answer_(answer)
    {
        if (const auto* lines = std::get_if<CommandList>(&answer_)) {
            for (const std::string& line : *lines)
                views_.emplace_back(line);
        }
    }

    GeneratorResult rebuild() const
    {
        if (const auto* rejection = std::get_if<Rejection>(&answer_))
            return Rejection{std::string(std::string_view(rejection->message)), rejection->field};
        return CommandList(views_.begin(), views_.end());
    }

private:
    GeneratorResult answer_;
    std::vector<std::string_view> views_;
};

// A subject beside its floor: another measured run, or a time worked out beforehand.
// A target of 0 prints the ratio for information only.
struct Comparison {
    std::string subject;
    std::string floor;
    double target;
    double floorNanoseconds = 0;
};

std::vector<Comparison>& comparisons()
{
    static std::vector<Comparison> all;
    return all;
}

template <typename Generate>
void registerGenerator(const std::string& name, Generate generate)
{
    auto constant = std::make_shared<ConstantAnswer>(generate());
    benchmark::RegisterBenchmark(name.c_str(), [generate](benchmark::State& state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(generate());
    });
    const std::string floorName = name + " floor";
    benchmark::RegisterBenchmark(floorName.c_str(), [constant](benchmark::State& state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(constant->rebuild());
    });
    // Generators run once per button press; their ratios are information, not targets.
    comparisons().push_back({name, floorName, 0});
}

int runProcess(const std::vector<std::string>& command)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& arg : command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

void registerProcesses(const std::string& name, const std::vector<std::string>& subject, const std::string& floorName,
                       const std::vector<std::string>& floor, double target)
{
    for (const auto& [benchName, command] : {std::pair{name, subject}, std::pair{floorName, floor}}) {
        benchmark::RegisterBenchmark(benchName.c_str(), [command = command](benchmark::State& state) {
                    for (auto _ : state) {
                        if (runProcess(command) != 0)
                            state.SkipWithError("the process failed");
                    }
                })
            ->UseRealTime()
            ->MinTime(1.0)
            ->Unit(benchmark::kMillisecond);
    }
    comparisons().push_back({name, floorName, target});
}

std::string formatted(double nanoseconds);

// What a batch adds to each module for its record: the started row and the final one, each
// flushed to the disk before the call returns.
void registerWriteAhead()
{
    benchmark::RegisterBenchmark("record rows written ahead", [](benchmark::State& state) {
        const std::string path = (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : std::string("/tmp"))
            + "/qz-bench-record.csv";
        std::remove(path.c_str());
        DurableFile record;
        bool created = false;
        record.open(path, created);
        batch::RecordRow row{"2026-12-08T14:03:22Z", "/dev/ttyUSB0", "00170A09E4AE",
                             {"0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "00FE"}, 0, 0, 8,
                             batch::StartedResult, {}};
        for (auto _ : state) {
            row.result = batch::StartedResult;
            const std::string started = record.append(batch::RecordLine(row));
            row.result = batch::SetUpResult;
            row.message = "8 of 8 commands were taken";
            if (!started.empty() || !record.append(batch::RecordLine(row)).empty())
                state.SkipWithError("the record could not be written");
        }
        record.close();
        std::remove(path.c_str());
    })
        ->UseRealTime()
        ->Iterations(20)
        ->Unit(benchmark::kMillisecond);
}

// The session with its two rows beside the session alone: the flushes vanish beside the
// module's own waits.
bool reportWriteAhead(const std::map<std::string, double>& nanoseconds)
{
    const auto session = nanoseconds.find("ibeacon session at 9600 baud");
    const auto rows = nanoseconds.find("record rows written ahead");
    if (session == nanoseconds.end() || rows == nanoseconds.end() || session->second <= 0) {
        std::printf("%-32s %s\n", "session with its record rows", "not measured");
        return false;
    }
    const double ratio = (session->second + rows->second) / session->second;
    std::printf("%-32s %12s %12s %7.3fx %7.2fx%s\n", "session with its record rows",
                formatted(session->second + rows->second).c_str(), formatted(session->second).c_str(), ratio, 1.02,
                ratio <= 1.02 ? "" : "  MISSED");
    return ratio <= 1.02;
}

// A whole iBeacon session through qzconfig against a module that answers at once at 9600
// baud. Its floor is what the line and the module allow: every byte's time on the wire,
// the quiet gap that ends each reply, and the pause after AT+RENEW.
void registerSession(const std::shared_ptr<test::FakeModule>& module)
{
    const std::string name = "ibeacon session at 9600 baud";
    benchmark::RegisterBenchmark(name.c_str(), [module](benchmark::State& state) {
        for (auto _ : state) {
            if (runProcess({QZCONFIG_PATH, "ibeacon", "--port=" + module->path()}) != 0)
                state.SkipWithError("the session failed");
        }
    })
        ->UseRealTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);

    const GeneratorResult answer = BuildBeaconList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "10125");
    const CommandList& list = std::get<CommandList>(answer);
    std::vector<std::string> exchanges{"AT"};
    exchanges.insert(exchanges.end(), list.commands.begin(), list.commands.end());
    double floor = 0;
    for (const std::string& command : exchanges) {
        const double bytes = static_cast<double>(command.size() + std::string_view("OK").size());
        const auto wait = command == "AT+RENEW" ? serial::RestartPause : serial::QuietGap;
        floor += bytes * 10 / serial::FactoryBaudRate * 1e9 + static_cast<double>(wait.count()) * 1e3;
    }
    comparisons().push_back({name, "its line and the module", 1.1, floor});
}

// Three fixtures at once, one module each, beside one fixture alone: the sessions overlap,
// so three take little longer than one.
void registerBatch(const std::vector<std::shared_ptr<test::FakeModule>>& modules)
{
    const std::string record = "/tmp/qz-bench-record.csv";
    const auto run = [record](const std::vector<std::shared_ptr<test::FakeModule>>& fixtures) {
        return [record, fixtures](benchmark::State& state) {
            std::vector<std::string> command = {QZCONFIG_PATH, "ibeacon", "--count=minor",
                                                "--modules=" + std::to_string(fixtures.size()), "--record=" + record};
            for (const auto& fixture : fixtures)
                command.push_back("--port=" + fixture->path());
            for (auto _ : state) {
                std::remove(record.c_str()); // a record would resume: every run starts anew
                if (runProcess(command) != 0)
                    state.SkipWithError("the batch failed");
            }
        };
    };
    const std::string three = "batch, 3 ports at once";
    const std::string one = "batch, 1 port";
    for (const auto& [name, fixtures] : {std::pair{three, modules}, std::pair{one, decltype(modules){modules[0]}}})
        benchmark::RegisterBenchmark(name.c_str(), run(fixtures))->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);
    comparisons().push_back({three, one, 1.2});
}

// A run's name without the suffixes ("/min_time:...") that its settings add.
std::string baseName(const std::string& name)
{
    return name.substr(0, name.find('/'));
}

// Collects the real time per iteration of every run, in nanoseconds, and prints nothing.
class Collector : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (!run.error_occurred)
                nanoseconds[baseName(run.benchmark_name())] = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
        }
    }
    std::map<std::string, double> nanoseconds;
};

std::string formatted(double nanoseconds)
{
    char text[32];
    if (nanoseconds >= 1e6)
        std::snprintf(text, sizeof text, "%.2f ms", nanoseconds / 1e6);
    else if (nanoseconds >= 1e3)
        std::snprintf(text, sizeof text, "%.2f us", nanoseconds / 1e3);
    else
        std::snprintf(text, sizeof text, "%.0f ns", nanoseconds);
    return text;
}

#ifdef BENCH_WINDOW_PATH
// Peak resident memory of a process that shows one window, the least of three runs.
long peakMemory(const std::string& kind)
{
    long least = -1;
    for (int run = 0; run < 3; ++run) {
        const std::string command = std::string(BENCH_WINDOW_PATH) + " " + kind + " --rss";
        FILE* pipe = popen(command.c_str(), "r");
        long kilobytes = -1;
        if (pipe != nullptr) {
            if (std::fscanf(pipe, "%ld", &kilobytes) != 1)
                kilobytes = -1;
            pclose(pipe);
        }
        if (kilobytes > 0 && (least < 0 || kilobytes < least))
            least = kilobytes;
    }
    return least;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string uuid = "0000FFE1-0000-1000-8000-00805F9B34FB";
    const std::string otherUUID = "0000FFE2-0000-1000-8000-00805F9B34FB";
    const std::string twoStructures = "0F" + std::string(30, 'A') + "0F" + std::string(30, 'B');

    registerGenerator("study, initial texts", [] { return BuildStudyList(0, "FFE1", "FFE1"); });
    registerGenerator("study, longest valid", [&] { return BuildStudyList(1, uuid, otherUUID); });
    registerGenerator("ibeacon, initial texts",
                      [] { return BuildBeaconList("0000FFF0-0000-1000-8000-00805F9B34FB", "10123", "10125"); });
    registerGenerator("ibeacon, longest valid", [&] { return BuildBeaconList(uuid, "65535", "00001"); });
    registerGenerator("broadcast, initial texts", [] { return BuildBroadcastList("QZSoft", "", "", "", false); });
    registerGenerator("broadcast, longest valid", [&] {
        return BuildBroadcastList("ABCDEFGHIJKLMNO", "000E0B123456", twoStructures, twoStructures, false);
    });
    registerProcesses("qzconfig study (process)", {QZCONFIG_PATH, "study"}, "bare print, same libs (process)",
                      {BARE_PRINT_PATH}, 1.3);
    test::FakeModule::Options atOnce;
    atOnce.commandEnd = std::chrono::microseconds(500);
    atOnce.emulateWire = true;
    const auto module = std::make_shared<test::FakeModule>(
        [](const std::string&) { return test::FakeModule::Reply{{{std::chrono::milliseconds(0), "OK"}}}; }, atOnce);
    registerSession(module);
    registerWriteAhead();
    std::vector<std::shared_ptr<test::FakeModule>> fixtures = {module};
    for (int more = 0; more < 2; ++more)
        fixtures.push_back(std::make_shared<test::FakeModule>(
            [](const std::string&) { return test::FakeModule::Reply{{{std::chrono::milliseconds(0), "OK"}}}; }, atOnce));
    registerBatch(fixtures);
#ifdef BENCH_WINDOW_PATH
    registerProcesses("TfrmMain shown (process)", {BENCH_WINDOW_PATH, "main"}, "QTabWidget 520x384 (process)",
                      {BENCH_WINDOW_PATH, "tabs"}, 1.2);
    registerProcesses("TfrmResult with list (process)", {BENCH_WINDOW_PATH, "result"}, "empty QDialog (process)",
                      {BENCH_WINDOW_PATH, "dialog"}, 1.2);
#endif

    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    std::printf("%-32s %12s %12s %8s %8s\n", "subject", "time", "floor", "ratio", "target");
    bool allMet = true;
    for (const Comparison& comparison : comparisons()) {
        const auto subject = collector.nanoseconds.find(comparison.subject);
        const auto floor = collector.nanoseconds.find(comparison.floor);
        const double floorTime = comparison.floorNanoseconds > 0 ? comparison.floorNanoseconds
            : floor != collector.nanoseconds.end()               ? floor->second
                                                                 : 0;
        if (subject == collector.nanoseconds.end() || floorTime <= 0) {
            std::printf("%-32s %s\n", comparison.subject.c_str(), "not measured");
            allMet = false;
            continue;
        }
        const double ratio = subject->second / floorTime;
        if (comparison.target <= 0) {
            std::printf("%-32s %12s %12s %7.2fx %8s\n", comparison.subject.c_str(), formatted(subject->second).c_str(),
                        formatted(floorTime).c_str(), ratio, "info");
            continue;
        }
        allMet = allMet && ratio <= comparison.target;
        std::printf("%-32s %12s %12s %7.2fx %7.1fx%s\n", comparison.subject.c_str(), formatted(subject->second).c_str(),
                    formatted(floorTime).c_str(), ratio, comparison.target, ratio <= comparison.target ? "" : "  MISSED");
    }
#ifdef BENCH_WINDOW_PATH
    const long windowMemory = peakMemory("main");
    const long tabsMemory = peakMemory("tabs");
    if (windowMemory > 0 && tabsMemory > 0) {
        const double ratio = static_cast<double>(windowMemory) / static_cast<double>(tabsMemory);
        allMet = allMet && ratio <= 1.1;
        std::printf("%-32s %9ld kB %9ld kB %7.2fx %7.1fx%s\n", "TfrmMain peak memory", windowMemory, tabsMemory, ratio,
                    1.1, ratio <= 1.1 ? "" : "  MISSED");
    }
#endif
    allMet = reportWriteAhead(collector.nanoseconds) && allMet;
    allMet = ReportListening() && allMet;
    allMet = ReportValuesFile() && allMet;
    const auto session = collector.nanoseconds.find("ibeacon session at 9600 baud");
    allMet = ReportLine(session != collector.nanoseconds.end() ? session->second : 0) && allMet;
    return allMet ? 0 : 1;
}
