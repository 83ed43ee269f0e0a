#pragma once

#include "BatchRecord.h"
#include "BatchReport.h"
#include "RecordAddress.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qz {

// The record as a batch in a PostgreSQL database that several benches share: each unit a
// row, claimed by one bench in a committed transaction before its module is sent
// anything, then ended. The database is the one judge of which unit goes where, and a
// constraint it enforces keeps every identity to one unit of one batch. Its one connection
// lives on a thread of its own; every call waits for the server within a bound, and on the
// window's thread lets the event loop answer meanwhile.
class RecordDatabase : public BatchRecord {
public:
    // bench: this computer's name, as claims record it.
    RecordDatabase(DatabaseAddress address, std::string bench, bool retryFailed);
    ~RecordDatabase() override;

    Taken take(std::string& words) override;
    std::string read(std::string& text) override;
    std::string open(const std::string& opening) override;
    std::string adopt(const PageSpec& page, batch::Plan& plan, const Definition& definition, bool dryRun,
                      bool& lost) override;
    // In one transaction, committed before the module is sent anything: the module looked
    // up by every address the database has seen it with, in every batch; its unit chosen
    // by the ledger's rule (rows other benches hold passed over); the unit marked started
    // on this bench and port.
    batch::Claimed claim(const ClaimAsk& ask, batch::Batch& batch, const batch::Plan& plan) override;
    std::string end(const batch::RecordRow& row) override;
    void release() override;
    std::string probe() override;
    // "40 of 40 claimed, 38 set up, 2 failed"
    std::string counts() override;
    void stopWhen(std::function<bool()> stopAsked) override;

    // The batch defined (or checked against the one defined); why not, in words.
    std::string define(const PageSpec& page, const batch::Plan& plan, const Definition& definition);
    batch::Claimed claimUnit(const std::string& port, const std::string& module, const std::string& identity, int total);

    // Whether any call of this process was given up while the server kept it: its thread
    // may still wait, so the process ends without waiting for it.
    static bool AnyCallAbandoned();

    // What the batch shows of each of its units now (nothing for a batch not yet begun).
    std::vector<batch::Recorded> recordedUnits(std::size_t units);
    // The ports of this bench whose last claimed module may still be on them.
    std::vector<batch::HeldPort> heldPorts();

    // The batch's state for qzconfig line: per bench and port, and the last module of each.
    struct PortLine {
        std::string bench, port;
        int claimed = 0, setUp = 0, failed = 0;
        std::string lastUnitValues, lastState, lastTime;
    };
    struct Line {
        int total = 0, claimed = 0, setUp = 0, failed = 0, left = 0;
        int inProgress = 0; // started on a bench that is setting its module up now
        int cutShort = 0;   // started on a bench that stopped meanwhile: its module may carry them
        std::vector<PortLine> ports;
    };
    // The line's state, or why it cannot be read.
    std::string line(Line& state);
    // Every batch of the database and where it stands (an address that names none).
    struct BatchLine {
        std::string name, page, created;
        int total = 0, claimed = 0, setUp = 0, failed = 0, left = 0;
    };
    std::string batches(std::vector<BatchLine>& batches);
    // The batch, one row per unit a module took; why not, in words.
    std::string report(batch::Report& report);
    // The units of the batch carried by a module, and by which (where the record knows it).
    std::map<std::size_t, std::string> carriers();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "40 of 40 claimed, 38 set up, 1 failed, 1 cut short (their modules may carry them)"
std::string LineCounts(const RecordDatabase::Line& line);

// This computer's name, as a bench of the line.
std::string BenchName();

} // namespace qz
