#include "launcher/platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <windows.h>

namespace platform {

namespace {

// The Windows calls report through GetLastError; perror reads errno.
void setErrnoFromLastError()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_NOT_SAME_DEVICE:
        errno = EXDEV;
        break;
    case ERROR_DISK_FULL:
        errno = ENOSPC;
        break;
    default:
        errno = EIO;
        break;
    }
}

}  // namespace

void pauseMilliseconds(unsigned int milliseconds)
{
    Sleep(milliseconds);
}

// The Windows heap already gives blocks this large back to the system.
void returnLargeBuffersPromptly() {}

bool moveFileNoReplace(const char* existingName, const char* newName)
{
    // MoveFileA never replaces an existing file, and renames files in use,
    // such as the running executable and its loaded libraries.
    if (MoveFileA(existingName, newName) != 0)
        return true;
    setErrnoFromLastError();
    return false;
}

bool replaceFile(const char* existingName, const char* newName)
{
    if (MoveFileExA(existingName, newName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0)
        return true;
    setErrnoFromLastError();
    return false;
}

bool removeFile(const char* name)
{
    if (DeleteFileA(name) != 0)
        return true;
    setErrnoFromLastError();
    return false;
}

void copyAccessMode(const char*, const char*) {}

bool changeDirectory(const char* path)
{
    return SetCurrentDirectoryA(path) != 0;
}

bool makeDirectory(const char* name)
{
    if (CreateDirectoryA(name, nullptr) != 0)
        return true;
    const DWORD attributes = GetFileAttributesA(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int runClient()
{
    return std::system("ORN_Client.exe");
}

}  // namespace platform
