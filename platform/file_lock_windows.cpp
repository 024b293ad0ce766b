#include "platform/file_lock.h"

#include <string>
#include <windows.h>

namespace platform {

namespace {

std::wstring wideName(const char* utf8)
{
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &text[0], length);
    text.resize(static_cast<std::size_t>(length - 1));
    return text;
}

}  // namespace

FileLock::Outcome FileLock::tryTake(const char* name)
{
    release();
    const std::wstring file = wideName(name);
    if (file.empty())
        return Outcome::unavailable;
    // Shared for everything: only the byte-range lock excludes, never the open itself.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        handle = CreateFileW(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return Outcome::unavailable;
    OVERLAPPED at{};
    if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) == 0) {
        const bool held = GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING;
        CloseHandle(handle);
        return held ? Outcome::heldElsewhere : Outcome::unavailable;
    }
    handle_ = handle;
    return Outcome::taken;
}

void FileLock::release()
{
    if (handle_ == nullptr)
        return;
    CloseHandle(static_cast<HANDLE>(handle_));  // closing the handle drops its locks
    handle_ = nullptr;
}

}  // namespace platform
