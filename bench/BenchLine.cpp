#include "BenchLine.h"

#include "BatchPlan.h"
#include "PageModel.h"
#include "RecordDatabase.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int claimingBenches = 8;
constexpr std::size_t unitsToClaim = 4000;

qz::batch::Plan beaconPlan(std::size_t units, const std::string& major)
{
    const qz::PageSpec& page = *qz::FindPage(qz::BeaconPage);
    qz::FieldValues values = qz::InitialValues(page);
    values[qz::Field::BeaconMajor] = major;
    values[qz::Field::BeaconMinor] = "00001";
    const qz::batch::Source source{{qz::Field::BeaconMinor}, units, false, {}};
    return std::get<qz::batch::Plan>(qz::batch::PlanBatch(page, values, source, {}));
}

// A batch too large for a minor to count: broadcast modules counting their address.
qz::batch::Plan broadcastPlan(std::size_t units)
{
    const qz::PageSpec& page = *qz::FindPage(qz::BroadcastPage);
    qz::FieldValues values = qz::InitialValues(page);
    values[qz::Field::DeviceAddress] = "000E0B100000";
    values[qz::Field::AdvertPackage] = "0201060302F0FF";
    values[qz::Field::ScanPackage] = "0201060302F0FF";
    const qz::batch::Source source{{qz::Field::DeviceAddress}, units, false, {}};
    return std::get<qz::batch::Plan>(qz::batch::PlanBatch(page, values, source, {}));
}

qz::DatabaseAddress addressOf(const std::string& batch)
{
    return std::get<qz::DatabaseAddress>(qz::ReadDatabaseAddress("postgresql:///postgres?batch=" + batch));
}

// Defines the batch; false (said) when the server will not have it.
bool defined(const std::string& batch, const qz::PageSpec& page, const qz::batch::Plan& plan)
{
    qz::RecordDatabase record(addressOf(batch), "bench-0", false);
    std::string why;
    if (record.take(why) == qz::BatchRecord::Taken::Yes)
        why = record.define(page, plan, {batch, {}});
    if (!why.empty())
        std::printf("%-32s %s\n", "line record", why.c_str());
    return why.empty();
}

// One module's record work: the claim before it is sent anything, then its end; on a batch
// of units units, of which the first 500 are claimed.
double claimAndEndNanoseconds(std::size_t units, const std::string& batch)
{
    const bool large = units > 99999;
    const qz::PageSpec& page = *qz::FindPage(large ? qz::BroadcastPage : qz::BeaconPage);
    const qz::batch::Plan plan = large ? broadcastPlan(units) : beaconPlan(units, "4001");
    if (!defined(batch, page, plan))
        return 0;
    qz::RecordDatabase record(addressOf(batch), "bench-1", false);
    std::string why;
    if (record.take(why) != qz::BatchRecord::Taken::Yes)
        return 0;
    constexpr int modules = 500;
    const Clock::time_point start = Clock::now();
    for (int module = 0; module < modules; ++module) {
        // Modules of their own: one the database knows from another batch is sent nothing.
        char address[13];
        std::snprintf(address, sizeof address, "%04X%08X", large ? 0x0018u : 0x0017u, static_cast<unsigned>(module));
        const qz::batch::Claimed claimed = record.claimUnit("/dev/ttyUSB0", address, {}, 8);
        if (claimed.kind != qz::batch::Claimed::Unit)
            return 0;
        qz::batch::RecordRow row{"", "/dev/ttyUSB0", address, plan.units[*claimed.choice.unit], 0, 0, 8,
                                 qz::batch::StartedResult, {}};
        row.sent = row.taken = 8;
        row.result = qz::batch::SetUpResult;
        row.message = "8 of 8 commands were taken";
        if (!record.end(row).empty())
            return 0;
    }
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / modules;
}

// Eight benches claim the units of one batch at once, each on its own connection, until
// none is left; claims per second over them all.
double claimsPerSecond()
{
    if (!defined("claim-rate", *qz::FindPage(qz::BeaconPage), beaconPlan(unitsToClaim, "4002")))
        return 0;
    std::vector<std::size_t> claimed(claimingBenches);
    std::vector<std::thread> benches;
    const Clock::time_point start = Clock::now();
    for (int bench = 0; bench < claimingBenches; ++bench) {
        benches.emplace_back([bench, &claimed] {
            qz::RecordDatabase record(addressOf("claim-rate"), "bench-" + std::to_string(bench), false);
            std::string why;
            if (record.take(why) != qz::BatchRecord::Taken::Yes)
                return;
            while (record.claimUnit("/dev/ttyUSB0", {}, {}, 8).kind == qz::batch::Claimed::Unit)
                ++claimed[static_cast<std::size_t>(bench)];
        });
    }
    for (std::thread& bench : benches)
        bench.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::size_t total = 0;
    for (std::size_t count : claimed)
        total += count;
    return total == unitsToClaim && seconds > 0 ? static_cast<double>(total) / seconds : 0;
}

} // namespace

bool ReportLine(double sessionNanoseconds)
{
    if (std::getenv("PGHOST") == nullptr) {
        std::printf("%-32s %s\n", "line record", "not measured: no PostgreSQL server named (PGHOST)");
        return false;
    }
    bool met = true;
    // A claim costs the same on a large batch as on a small one.
    for (const auto& [units, name] : {std::pair<std::size_t, const char*>{600, "claim-cost"}, {100000, "claim-cost-100k"}}) {
        const double perModule = claimAndEndNanoseconds(units, name);
        const std::string label = "session with its line claim, " + std::to_string(units);
        if (perModule <= 0 || sessionNanoseconds <= 0) {
            std::printf("%-32s %s\n", label.c_str(), "not measured");
            met = false;
            continue;
        }
        const double ratio = (sessionNanoseconds + perModule) / sessionNanoseconds;
        met = met && ratio <= 1.02;
        std::printf("%-32s %10.2f ms %10.2f ms %7.3fx %7.2fx%s\n", label.c_str(), (sessionNanoseconds + perModule) / 1e6,
                    sessionNanoseconds / 1e6, ratio, 1.02, ratio <= 1.02 ? "" : "  MISSED");
    }
    const double rate = claimsPerSecond();
    const bool fast = rate >= 500;
    std::printf("%-32s %9.0f/s %12s %8s %6d/s%s\n", "claims, 8 benches at once", rate, "", "", 500,
                fast ? "" : "  MISSED");
    return met && fast;
}
