#pragma once

// Where a batch keeps what it did with each module: read back before it begins, a unit
// claimed (on the disk) before its module is sent anything, and the unit ended once its
// module is done. One batch holds a record at a time. The record is the ledger: it alone
// decides which unit a module gets, by one rule for every store; the batch does not know
// what kind of record it has.

#include "BatchPlan.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qz {

class BatchRecord {
public:
    virtual ~BatchRecord() = default;

    enum class Taken { Yes, Held, Broken, Unwritten, Unreachable };
    // Takes the record for this batch: Held when another batch holds it, Broken when it
    // cannot be taken at all, Unwritten when what marks it taken cannot be written (a full
    // disk), Unreachable when the server that keeps it cannot be had; words says why, or,
    // once taken, what the user should know
    // ("its lock file was left by process 4242, which no longer runs: taken over").
    virtual Taken take(std::string& words) = 0;
    // What the record shows, as its text; why not, in the system's words.
    virtual std::string read(std::string& text) = 0;
    // Ready to add rows, after opening (a header, a line break a cut line lacks).
    virtual std::string open(const std::string& opening) = 0;
    // Once planned, the record's own view of the batch goes into the plan: a record that
    // benches share defines the batch there (or checks it against the one defined; not on a
    // dry run) and tells what its server shows of each unit now. Why not, in words; lost
    // when the server was lost meanwhile rather than refusing.
    struct Definition {
        std::string text;
        std::string earlier; // as the version before this one wrote it, for a batch it began
    };
    virtual std::string adopt(const PageSpec& /*page*/, batch::Plan& /*plan*/, const Definition& /*definition*/,
                              bool /*dryRun*/, bool& /*lost*/)
    {
        return {}; // a file's rows were planned from already
    }

    // What a module that told its address (module; empty when it did not) is given, by the
    // ledger's rule: a unit, claimed durably before the module is sent anything of its
    // list, or why none. batch holds the unit its port was offered, and learns the answer.
    struct ClaimAsk {
        std::string port;
        std::string module;
        std::string moduleIdentity; // its address as the page's identity, where the page's identity is an address
        bool retry = false;
        // The started row of a unit, should it be the module's.
        std::function<batch::RecordRow(std::size_t unit)> startedRow;
    };
    virtual batch::Claimed claim(const ClaimAsk& ask, batch::Batch& batch, const batch::Plan& plan) = 0;
    // Ends a claimed unit as its module ended (set up or failed), or why it could not.
    virtual std::string end(const batch::RecordRow& row) = 0;
    virtual void release() = 0;

    // Whether the record can be had now (a server answers): why not, or empty.
    virtual std::string probe() { return {}; }
    // Where a batch that benches share stands ("12 of 60 claimed, ..."), or empty.
    virtual std::string counts() { return {}; }
    // Once stopAsked says so, a wait for the record gives up soon.
    virtual void stopWhen(std::function<bool()> /*stopAsked*/) {}
};

// The record as a CSV file, one row a line, each flushed to the disk as it is added. It is
// held by an exclusive lock on the file itself; a file beside it ("RECORD.lock") names the
// holder for the message a second batch gets.
class RecordFile : public BatchRecord {
public:
    explicit RecordFile(std::string path);
    ~RecordFile() override;

    Taken take(std::string& words) override;
    std::string read(std::string& text) override;
    std::string open(const std::string& opening) override;
    batch::Claimed claim(const ClaimAsk& ask, batch::Batch& batch, const batch::Plan& plan) override;
    std::string end(const batch::RecordRow& row) override;
    void release() override;

private:
    struct Impl;
    std::string path_;
    std::string lockPath_;
    std::unique_ptr<Impl> impl_;
};

// The record a batch's --record names: a file, or a batch in PostgreSQL (an address that
// reads as one), claimed for this computer as a bench of the line.
std::unique_ptr<BatchRecord> MakeRecord(const std::string& record, bool retryFailed);

} // namespace qz
