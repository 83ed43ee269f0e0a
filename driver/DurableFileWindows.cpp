#include "DurableFile.h"

#include <windows.h>

namespace qz {

namespace {

HANDLE handleOf(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

std::wstring widePath(const std::string& path)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<std::size_t>(length) : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string systemWords(DWORD error)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string words = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(error);
    LocalFree(text);
    while (!words.empty() && (words.back() == '\r' || words.back() == '\n' || words.back() == '.'))
        words.pop_back();
    return words;
}

DWORD writeAll(HANDLE handle, std::string_view bytes)
{
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = bytes.size() > 1u << 30 ? 1u << 30 : static_cast<DWORD>(bytes.size());
        if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr))
            return GetLastError();
        if (written == 0)
            return ERROR_DISK_FULL;
        bytes.remove_prefix(written);
    }
    return ERROR_SUCCESS;
}

// The lock is one byte far past any record's end: it keeps other batches out and lets
// anybody read the record meanwhile.
OVERLAPPED lockedByte()
{
    OVERLAPPED at{};
    at.Offset = 0;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
}

} // namespace

DurableFile::~DurableFile()
{
    close();
}

std::string DurableFile::open(const std::string& path, bool& created)
{
    close();
    const std::wstring wide = widePath(path);
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return systemWords(GetLastError());
    created = GetLastError() != ERROR_ALREADY_EXISTS;
    handle_ = reinterpret_cast<std::intptr_t>(handle);
    path_ = path;
    created_ = created;
    return {};
}

bool DurableFile::lockExclusively()
{
    OVERLAPPED at = lockedByte();
    return LockFileEx(handleOf(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

std::string DurableFile::readAll(std::string& text)
{
    text.clear();
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(handleOf(handle_), start, nullptr, FILE_BEGIN))
        return systemWords(GetLastError());
    char buffer[65536];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(handleOf(handle_), buffer, sizeof buffer, &count, nullptr))
            return systemWords(GetLastError());
        if (count == 0)
            return {};
        text.append(buffer, count);
    }
}

std::string DurableFile::append(std::string_view bytes)
{
    const HANDLE handle = handleOf(handle_);
    LARGE_INTEGER zero{};
    LARGE_INTEGER before{};
    if (!SetFilePointerEx(handle, zero, &before, FILE_END))
        return systemWords(GetLastError());
    DWORD error = writeAll(handle, bytes);
    if (error == ERROR_SUCCESS && !FlushFileBuffers(handle))
        error = GetLastError();
    if (error == ERROR_SUCCESS)
        return {};
    // Half a row would join the next one written; what did not reach the disk is gone.
    if (SetFilePointerEx(handle, before, nullptr, FILE_BEGIN))
        SetEndOfFile(handle);
    return systemWords(error);
}

void DurableFile::close()
{
    if (handle_ == -1)
        return;
    LARGE_INTEGER size{};
    const bool empty = GetFileSizeEx(handleOf(handle_), &size) && size.QuadPart == 0;
    OVERLAPPED at = lockedByte();
    UnlockFileEx(handleOf(handle_), 0, 1, 0, &at);
    CloseHandle(handleOf(handle_));
    if (created_ && empty)
        DeleteFileW(widePath(path_).c_str());
    handle_ = -1;
}

bool DurableFile::isOpen() const
{
    return handle_ != -1;
}

std::string NotARegularFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return {};
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return "a symbolic link";
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "a folder";
    return {};
}

std::string ReplaceSmallFile(const std::string& path, const std::string& text)
{
    HANDLE handle = CreateFileW(widePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return systemWords(GetLastError());
    const DWORD error = writeAll(handle, text);
    CloseHandle(handle);
    return error == ERROR_SUCCESS ? std::string() : systemWords(error);
}

std::string ReadSmallFile(const std::string& path)
{
    HANDLE handle = CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    char buffer[512];
    DWORD count = 0;
    const bool read = ReadFile(handle, buffer, sizeof buffer, &count, nullptr) != 0;
    CloseHandle(handle);
    return read ? std::string(buffer, count) : std::string();
}

void RemoveFile(const std::string& path)
{
    DeleteFileW(widePath(path).c_str());
}

long long ThisProcess()
{
    return static_cast<long long>(GetCurrentProcessId());
}

bool ProcessRuns(long long process)
{
    HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process));
    if (handle == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
    CloseHandle(handle);
    return running;
}

} // namespace qz
