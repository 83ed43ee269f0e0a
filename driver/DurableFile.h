#pragma once

// A file that rows are added to, each on the disk before the call returns, and that one
// process at a time holds: the lock belongs to the file itself, so a symbolic link, a hard
// link or another path to it finds it taken. One implementation per system, chosen by
// CMake.

#include <cstdint>
#include <string>
#include <string_view>

namespace qz {

class DurableFile {
public:
    DurableFile() = default;
    ~DurableFile();
    DurableFile(const DurableFile&) = delete;
    DurableFile& operator=(const DurableFile&) = delete;

    // Opens path to read it and add to it, made when it does not exist (created says so).
    // Why not, in the system's words; empty once open.
    std::string open(const std::string& path, bool& created);
    // Holds the file for this process alone; false when another holds it.
    bool lockExclusively();
    // The whole file as it is now; why not, in the system's words.
    std::string readAll(std::string& text);
    // Adds bytes at the end and flushes them to the disk. When that fails, the file is cut
    // back to where it ended, and the answer is the system's reason ("No space left on
    // device"); empty once the bytes are on the disk.
    std::string append(std::string_view bytes);
    // Unlocks and closes; removes the file when it was made by open and is still empty.
    void close();
    bool isOpen() const;

private:
    std::intptr_t handle_ = -1;
    std::string path_;
    bool created_ = false;
};

// The file at path holds text when it is a regular file (not a link, a folder or a
// device): kind says what it is otherwise ("a symbolic link", "a folder"), empty when it
// does not exist or is a regular file.
std::string NotARegularFile(const std::string& path);
// Writes text to path in place of what it held, without following a link there; why not.
std::string ReplaceSmallFile(const std::string& path, const std::string& text);
std::string ReadSmallFile(const std::string& path);
void RemoveFile(const std::string& path);
// This process's number, and whether a process of that number runs on this machine.
long long ThisProcess();
bool ProcessRuns(long long process);

} // namespace qz
