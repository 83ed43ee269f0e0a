#pragma once

// Where a batch keeps what it did with each module: read back before it begins, a unit
// claimed (on the disk) before its module is sent anything, and the unit ended once its
// module is done. One batch holds a record at a time. The batch does not know what kind of
// record it has.

#include "BatchPlan.h"

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
    // Claims a unit for a module about to get it (row's result is "started"): once the
    // answer is empty, the record carries the unit's values, durably; else why not, in
    // the system's words. Nothing is sent to the module before.
    virtual std::string claim(const batch::RecordRow& row) = 0;
    // Ends a claimed unit as its module ended (set up or failed), or why it could not.
    virtual std::string end(const batch::RecordRow& row) = 0;
    virtual void release() = 0;

    // A record several benches share keeps the batch itself: once planned, the batch is
    // defined there (or checked against the one defined); why not, in words.
    virtual std::string define(const PageSpec&, const batch::Plan&, const std::string& /*definition*/) { return {}; }
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
    std::string claim(const batch::RecordRow& row) override;
    std::string end(const batch::RecordRow& row) override;
    void release() override;

private:
    struct Impl;
    std::string path_;
    std::string lockPath_;
    std::unique_ptr<Impl> impl_;
};

} // namespace qz
