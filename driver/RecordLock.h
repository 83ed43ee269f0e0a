#pragma once

// One batch per record: a lock file beside the record ("RECORD.lock") keeps a second batch,
// in this process or another, from handing out the values the first is handing out.

#include <memory>
#include <string>

class QLockFile;

namespace qz {

class RecordLock {
public:
    RecordLock();
    ~RecordLock();

    // Takes the record for this batch; the reason in words when it cannot ("another batch
    // is using it (process 4242, qzconfig)"). Empty once it is held.
    std::string take(const std::string& recordPath);
    void release();

private:
    std::unique_ptr<QLockFile> lock_;
};

} // namespace qz
