#include "platform/file_lock.h"

#include "platform/wide_names.h"

#include <windows.h>

namespace platform {

FileLock::Outcome FileLock::tryTake(const char* name)
{
    release();
    const std::wstring file = wide(name);
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
