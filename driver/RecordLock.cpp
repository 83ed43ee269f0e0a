#include "RecordLock.h"

#include <QLockFile>
#include <QString>

namespace qz {

RecordLock::RecordLock() = default;

RecordLock::~RecordLock() = default;

std::string RecordLock::take(const std::string& recordPath)
{
    release();
    auto lock = std::make_unique<QLockFile>(QString::fromLocal8Bit(recordPath.c_str()) + QStringLiteral(".lock"));
    // A batch may run for hours: only a holder that is gone makes the lock stale.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        lock_ = std::move(lock);
        return {};
    }
    if (lock->error() != QLockFile::LockFailedError)
        return "cannot make its lock file " + recordPath + ".lock beside it";
    qint64 pid = 0;
    QString host;
    QString application;
    std::string holder;
    if (lock->getLockInfo(&pid, &host, &application))
        holder = " (process " + std::to_string(pid)
            + (application.isEmpty() ? std::string() : ", " + application.toStdString()) + ")";
    return "another batch is using it" + holder;
}

void RecordLock::release()
{
    lock_.reset(); // unlocks
}

} // namespace qz
