#include "BatchRecord.h"

#include "DurableFile.h"

#include <QCoreApplication>

#include <filesystem>

namespace qz {

namespace {

// " (process 4242, qzconfig)": the holder a lock file names, or nothing when it names none.
std::string holderWords(const std::string& lockText)
{
    const std::size_t end = lockText.find('\n');
    const std::string number = lockText.substr(0, end);
    if (number.empty() || number.size() > 10 || number.find_first_not_of("0123456789") != std::string::npos)
        return {};
    std::string application = end == std::string::npos ? std::string() : lockText.substr(end + 1);
    application = application.substr(0, application.find('\n'));
    if (application.size() > 64 || application.find_first_of("\r\t") != std::string::npos)
        application.clear();
    return " (process " + number + (application.empty() ? "" : ", " + application) + ")";
}

} // namespace

struct RecordFile::Impl {
    DurableFile file;
    bool lockWritten = false;
};

namespace {

// The lock file sits beside the record itself, whatever link led to it.
std::string lockFileOf(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path real = std::filesystem::weakly_canonical(std::filesystem::path(path), error);
    return (error ? path : real.string()) + ".lock";
}

} // namespace

RecordFile::RecordFile(std::string path)
    : path_(std::move(path))
    , lockPath_(lockFileOf(path_))
    , impl_(std::make_unique<Impl>())
{
}

RecordFile::~RecordFile()
{
    release();
}

BatchRecord::Taken RecordFile::take(std::string& words)
{
    release();
    words.clear();
    if (const std::string kind = NotARegularFile(lockPath_); !kind.empty()) {
        words = "its lock file " + lockPath_ + " is " + kind + ", not a file a batch wrote: remove it";
        return Taken::Broken;
    }
    bool created = false;
    if (const std::string why = impl_->file.open(path_, created); !why.empty()) {
        words = "cannot open it: " + why;
        return Taken::Broken;
    }
    std::error_code error;
    const bool lockLeft = std::filesystem::exists(std::filesystem::symlink_status(lockPath_, error));
    const std::string previous = ReadSmallFile(lockPath_);
    if (!impl_->file.lockExclusively()) {
        impl_->file.close();
        words = "another batch is using it" + holderWords(previous);
        return Taken::Held;
    }
    // No process holds the record, so what a lock file beside it says is left over.
    if (lockLeft) {
        const std::string holder = holderWords(previous);
        words = holder.empty() ? "its lock file " + lockPath_ + " named no batch: taken over"
                               : "its lock file was left by a batch that ended without removing it" + holder
                + ": taken over";
    }
    const std::string application = QCoreApplication::applicationName().toStdString();
    if (const std::string why = ReplaceSmallFile(lockPath_, std::to_string(ThisProcess()) + "\n" + application + "\n");
        !why.empty()) {
        impl_->file.close();
        words = "cannot make its lock file " + lockPath_ + " beside it: " + why;
        return Taken::Unwritten;
    }
    impl_->lockWritten = true;
    return Taken::Yes;
}

std::string RecordFile::read(std::string& text)
{
    return impl_->file.readAll(text);
}

std::string RecordFile::open(const std::string& opening)
{
    return opening.empty() ? std::string() : impl_->file.append(opening);
}

// The unit chosen by what the record's rows show, then its started row on the disk before
// the answer.
batch::Claimed RecordFile::claim(const ClaimAsk& ask, batch::Batch& batch, const batch::Plan& plan)
{
    batch::Claimed claimed = batch::ClaimFromRecord(batch, plan.known, ask.port, ask.module, ask.retry);
    if (claimed.kind != batch::Claimed::Unit)
        return claimed;
    if (std::string why = impl_->file.append(batch::RecordLine(ask.startedRow(*claimed.choice.unit))); !why.empty()) {
        batch.Withdrawn(ask.port);
        claimed.kind = batch::Claimed::Refused;
        claimed.why = std::move(why);
    }
    return claimed;
}

// One line added to the file, on the disk before the answer.
std::string RecordFile::end(const batch::RecordRow& row)
{
    return impl_->file.append(batch::RecordLine(row));
}

void RecordFile::release()
{
    if (impl_->lockWritten)
        RemoveFile(lockPath_);
    impl_->lockWritten = false;
    impl_->file.close();
}

} // namespace qz
