#include "BenchValuesFile.h"

#include "BatchSession.h"
#include "PageModel.h"

#include <QFile>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::size_t fileBytes = 50'000'000;
constexpr double memoryGoal = 4;          // times reading the file once
constexpr double secondsPerMillionRows = 3;

struct Measure {
    double seconds = 0;
    long peakKilobytes = 0;
    bool ok = false;
};

// A broadcast batch's values file: a name and an address per module.
std::size_t writeValuesFile(const std::string& path)
{
    std::ofstream file(path, std::ios::binary);
    file << "name,address\n";
    std::size_t written = 13;
    std::size_t rows = 0;
    char row[64];
    while (written < fileBytes) {
        const int length = std::snprintf(row, sizeof row, "Lamp-%07zu,000E0B%06zX\n", rows + 1, rows + 1);
        file.write(row, length);
        written += static_cast<std::size_t>(length);
        ++rows;
    }
    return rows;
}

// Runs work in a child process: its time and its peak resident memory.
template <typename Work>
Measure inChild(Work work)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        const auto begin = std::chrono::steady_clock::now();
        const bool ok = work();
        Measure measured;
        measured.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        measured.peakKilobytes = usage.ru_maxrss;
        measured.ok = ok;
        (void)!write(pipeEnds[1], &measured, sizeof measured);
        _exit(0);
    }
    close(pipeEnds[1]);
    Measure measured;
    if (read(pipeEnds[0], &measured, sizeof measured) != sizeof measured)
        measured = {};
    close(pipeEnds[0]);
    waitpid(pid, nullptr, 0);
    return measured;
}

} // namespace

bool ReportValuesFile()
{
    const std::string values = "/tmp/qz-bench-values.csv";
    const std::string record = "/tmp/qz-bench-values-record.csv";
    const std::size_t rows = writeValuesFile(values);
    std::remove(record.c_str());

    const Measure reading = inChild([&] {
        QFile file(QString::fromStdString(values));
        return file.open(QIODevice::ReadOnly) && file.readAll().size() > 0;
    });
    const Measure planning = inChild([&] {
        qz::BatchOrder order;
        order.page = qz::FindPage("broadcast");
        order.values = {{qz::Field::AdvertPackage, "020106"}, {qz::Field::SameAsAdvert, "yes"}};
        order.valuesFile = values;
        order.recordFile = record;
        qz::BatchSession session(order);
        return !session.plan() && session.batch().Total() == rows;
    });
    std::remove(values.c_str());
    std::remove((record + ".lock").c_str());
    if (!reading.ok || !planning.ok) {
        std::printf("%-32s %s\n", "a 50 MB values file", "not measured: the batch was not planned");
        return false;
    }
    const double timeGoal = secondsPerMillionRows * static_cast<double>(rows) / 1e6;
    const double memoryRatio = static_cast<double>(planning.peakKilobytes) / static_cast<double>(reading.peakKilobytes);
    const bool timeMet = planning.seconds <= timeGoal;
    const bool memoryMet = memoryRatio <= memoryGoal;
    std::printf("%-32s %10.2f s %10.3f s %7.0fx %6.1f s%s  (%zu rows)\n", "plan a 50 MB values file", planning.seconds,
                reading.seconds, planning.seconds / reading.seconds, timeGoal, timeMet ? "" : "  MISSED", rows);
    std::printf("%-32s %9ld kB %9ld kB %7.2fx %7.1fx%s\n", "its peak memory", planning.peakKilobytes,
                reading.peakKilobytes, memoryRatio, memoryGoal, memoryMet ? "" : "  MISSED");
    return timeMet && memoryMet;
}
