#include "RecordDatabase.h"

#include <QString>
#include <QSysInfo>

namespace qz {

// This build carries no PostgreSQL driver: a database record is refused before anything
// is opened, saying what the bench needs.
struct RecordDatabase::Impl {};

RecordDatabase::RecordDatabase(DatabaseAddress, std::string, bool) {}
RecordDatabase::~RecordDatabase() = default;

BatchRecord::Taken RecordDatabase::take(std::string& words)
{
    words = "this build keeps its record in a file only: a record in PostgreSQL needs Qt's QPSQL driver and "
            "libpq.dll beside qzconfig.exe (see README, \"A line of benches\")";
    return Taken::Broken;
}

std::string RecordDatabase::read(std::string&) { return {}; }
std::string RecordDatabase::open(const std::string&) { return {}; }
batch::Claimed RecordDatabase::claim(const ClaimAsk&, batch::Batch&, const batch::Plan&) { return {}; }
std::string RecordDatabase::adopt(const PageSpec&, batch::Plan&, const Definition&, bool, bool&) { return {}; }
std::string RecordDatabase::end(const batch::RecordRow&) { return {}; }
void RecordDatabase::release() {}
std::string RecordDatabase::define(const PageSpec&, const batch::Plan&, const Definition&) { return {}; }
batch::Claimed RecordDatabase::claimUnit(const std::string&, const std::string&, const std::string&, int)
{
    return {};
}
std::map<std::size_t, std::string> RecordDatabase::carriers() { return {}; }
std::vector<batch::HeldPort> RecordDatabase::heldPorts() { return {}; }
std::vector<batch::Recorded> RecordDatabase::recordedUnits(std::size_t units)
{
    return std::vector<batch::Recorded>(units, batch::Recorded::Nothing);
}
std::string RecordDatabase::counts() { return {}; }
std::string RecordDatabase::batches(std::vector<BatchLine>&) { return "no PostgreSQL driver in this build"; }
std::string RecordDatabase::report(batch::Report&) { return "no PostgreSQL driver in this build"; }
std::string RecordDatabase::line(Line&) { return "no PostgreSQL driver in this build"; }

void RecordDatabase::stopWhen(std::function<bool()>) {}
std::string RecordDatabase::probe() { return {}; }
bool RecordDatabase::AnyCallAbandoned() { return false; }

std::string LineCounts(const RecordDatabase::Line&)
{
    return {};
}

std::string BenchName()
{
    return QSysInfo::machineHostName().toStdString();
}

} // namespace qz
