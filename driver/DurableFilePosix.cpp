#include "DurableFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qz {

namespace {

int fdOf(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

std::string systemWords(int error)
{
    return std::strerror(error);
}

// Writes every byte, however the system splits the write; the error number, or 0.
int writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return ENOSPC;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

} // namespace

DurableFile::~DurableFile()
{
    close();
}

std::string DurableFile::open(const std::string& path, bool& created)
{
    close();
    // A file grown past the process's size limit is a failed write to report, not a
    // signal that ends the batch before it can say so.
    ::signal(SIGXFSZ, SIG_IGN);
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    created = false;
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_CREAT | O_EXCL, 0644);
        created = fd >= 0;
    }
    if (fd < 0)
        return systemWords(errno);
    handle_ = fd;
    path_ = path;
    created_ = created;
    return {};
}

bool DurableFile::lockExclusively()
{
    while (::flock(fdOf(handle_), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

std::string DurableFile::readAll(std::string& text)
{
    text.clear();
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t count = ::pread(fdOf(handle_), buffer, sizeof buffer, at);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return systemWords(errno);
        if (count == 0)
            return {};
        text.append(buffer, static_cast<std::size_t>(count));
        at += count;
    }
}

std::string DurableFile::append(std::string_view bytes)
{
    const int fd = fdOf(handle_);
    const off_t before = ::lseek(fd, 0, SEEK_END);
    int error = writeAll(fd, bytes);
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (error == 0)
        return {};
    // Half a row would join the next one written; what did not reach the disk is gone.
    if (before >= 0)
        (void)::ftruncate(fd, before);
    return systemWords(error);
}

void DurableFile::close()
{
    if (handle_ < 0)
        return;
    struct stat status {};
    const bool empty = ::fstat(fdOf(handle_), &status) == 0 && status.st_size == 0;
    if (created_ && empty)
        ::unlink(path_.c_str());
    ::close(fdOf(handle_)); // and with it the lock
    handle_ = -1;
}

bool DurableFile::isOpen() const
{
    return handle_ >= 0;
}

std::string NotARegularFile(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode))
        return {};
    if (S_ISLNK(status.st_mode))
        return "a symbolic link";
    if (S_ISDIR(status.st_mode))
        return "a folder";
    return "not a regular file";
}

std::string ReplaceSmallFile(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return systemWords(errno);
    const int error = writeAll(fd, text);
    ::close(fd);
    return error == 0 ? std::string() : systemWords(error);
}

std::string ReadSmallFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    char buffer[512];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return count > 0 ? std::string(buffer, static_cast<std::size_t>(count)) : std::string();
}

void RemoveFile(const std::string& path)
{
    ::unlink(path.c_str());
}

long long ThisProcess()
{
    return static_cast<long long>(::getpid());
}

bool ProcessRuns(long long process)
{
    return process > 0 && (::kill(static_cast<pid_t>(process), 0) == 0 || errno == EPERM);
}

} // namespace qz
