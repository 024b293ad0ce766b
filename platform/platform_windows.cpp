#include "platform/platform.h"

#include "platform/disk.h"
#include "platform/wide_names.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <winsock2.h>
#include <windows.h>

namespace platform {

namespace {

// The Windows calls report through GetLastError; the callers read errno.
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
        errno = EACCES;
        break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        errno = EBUSY;  // another process holds the file
        break;
    case ERROR_NOT_SAME_DEVICE:
        errno = EXDEV;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    default:
        errno = EIO;
        break;
    }
}

UINT consoleCodePageAtStart = 0;

void restoreConsoleCodePage()
{
    SetConsoleOutputCP(consoleCodePageAtStart);
}

}  // namespace

std::wstring wide(const char* utf8)
{
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    std::wstring text(length > 0 ? static_cast<std::size_t>(length) : 0, L'\0');
    if (length <= 0 || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &text[0], length) != length) {
        errno = EINVAL;
        return std::wstring();
    }
    text.resize(static_cast<std::size_t>(length - 1));  // the terminating zero
    return text;
}

void pauseMilliseconds(unsigned int milliseconds)
{
    Sleep(milliseconds);
}

// The Windows heap already gives blocks this large back to the system.
void returnLargeBuffersPromptly() {}

bool os::moveFileNoReplace(const char* existingName, const char* newName)
{
    // MoveFileW never replaces an existing file, and renames files in use,
    // such as the running executable and its loaded libraries.
    const std::wstring from = wide(existingName);
    const std::wstring to = wide(newName);
    if (from.empty() || to.empty())
        return false;
    if (MoveFileW(from.c_str(), to.c_str()) != 0)
        return true;
    setErrnoFromLastError();
    return false;
}

bool os::replaceFile(const char* existingName, const char* newName)
{
    const std::wstring from = wide(existingName);
    const std::wstring to = wide(newName);
    if (from.empty() || to.empty())
        return false;
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0)
        return true;
    setErrnoFromLastError();
    return false;
}

bool os::removeFile(const char* name)
{
    const std::wstring file = wide(name);
    if (file.empty())
        return false;
    if (DeleteFileW(file.c_str()) != 0)
        return true;
    setErrnoFromLastError();
    return false;
}

// A running executable and its loaded libraries can be renamed, never replaced.
bool os::keepOldCopy(const char* name, const char* oldName)
{
    return os::moveFileNoReplace(name, oldName);
}

// Access denied too: a file being scanned or mapped by another process, or
// deleted while still open, refuses so, and lets go again.
bool isHeldFileFailure(int errorNumber)
{
    return errorNumber == EBUSY || errorNumber == EACCES;
}

void copyAccessMode(const char*, const char*) {}

std::string fullFolderName(const std::string& folder)
{
    std::wstring current(32768, L'\0');
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(current.size()), &current[0]);
    if (length == 0 || length >= current.size())
        return folder.empty() ? "." : folder;
    current.resize(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, current.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string name(bytes > 0 ? static_cast<std::size_t>(bytes) : 0, '\0');
    if (bytes <= 0 || WideCharToMultiByte(CP_UTF8, 0, current.c_str(), -1, &name[0], bytes, nullptr, nullptr) != bytes)
        return folder.empty() ? "." : folder;
    name.resize(static_cast<std::size_t>(bytes - 1));
    std::string inside = folder;
    for (char& c : inside)
        c = c == '/' ? '\\' : c;
    return inside.empty() ? name : name + (name.back() == '\\' ? "" : "\\") + inside;
}

bool changeDirectory(const char* path)
{
    const std::wstring directory = wide(path);
    return !directory.empty() && SetCurrentDirectoryW(directory.c_str()) != 0;
}

bool removeEmptyDirectory(const char* name)
{
    const std::wstring directory = wide(name);
    // A junction or directory link is a reparse point: removing it would leave its target, but it is not ours.
    const DWORD attributes = directory.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return false;
    if (RemoveDirectoryW(directory.c_str()) != 0)
        return true;
    setErrnoFromLastError();
    return false;
}

bool os::makeDirectory(const char* name)
{
    const std::wstring directory = wide(name);
    if (directory.empty())
        return false;
    if (CreateDirectoryW(directory.c_str(), nullptr) != 0)
        return true;
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// FILETIME counts 100 ns since 1601; file facts count nanoseconds since 1970.
long long unixNanoseconds(LARGE_INTEGER fileTime)
{
    return (fileTime.QuadPart - 116444736000000000LL) * 100;
}

}  // namespace

bool fileFacts(const std::string& name, FileFacts& facts)
{
    const std::wstring file = wide(name.c_str());
    if (file.empty())
        return false;
    const HANDLE handle =
        CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information{};
    FILE_BASIC_INFO basic{};
    const bool known = GetFileInformationByHandle(handle, &information) != 0 &&
                       GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) != 0 &&
                       (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(handle);
    if (!known)
        return false;
    facts.size = (static_cast<unsigned long long>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    facts.modifiedNs = unixNanoseconds(basic.LastWriteTime);
    facts.changedNs = unixNanoseconds(basic.ChangeTime);
    facts.device = information.dwVolumeSerialNumber;
    facts.identity = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}

long long nowNanoseconds()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER time;
    time.LowPart = now.dwLowDateTime;
    time.HighPart = static_cast<LONG>(now.dwHighDateTime);
    return unixNanoseconds(time);
}

void os::openForWriting(std::ofstream& file, const std::string& name)
{
    file.open(std::filesystem::u8path(name), std::ios::out | std::ios::binary | std::ios::trunc);
}

void openForReading(std::ifstream& file, const std::string& name)
{
    file.open(std::filesystem::u8path(name), std::ios::in | std::ios::binary);
}

void os::openForAppending(std::ofstream& file, const std::string& name)
{
    file.open(std::filesystem::u8path(name), std::ios::out | std::ios::binary | std::ios::app);
}

bool os::freeDiskSpace(const char* directory, unsigned long long& bytes)
{
    const std::wstring name = wide(directory);
    ULARGE_INTEGER available;
    if (name.empty() || !GetDiskFreeSpaceExW(name.c_str(), &available, nullptr, nullptr))
        return false;
    bytes = available.QuadPart;
    return true;
}

void keepSocketAlive(unsigned long long socketHandle)
{
    const BOOL on = TRUE;
    ::setsockopt(static_cast<SOCKET>(socketHandle), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on),
                 sizeof on);
}

bool os::truncateFile(const std::string& name, unsigned long long size)
{
    std::error_code error;
    std::filesystem::resize_file(std::filesystem::u8path(name), size, error);
    return !error;
}

bool os::flushFileToDisk(const std::string& name)
{
    const std::wstring file = wide(name.c_str());
    if (file.empty())
        return false;
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    return flushed;
}

// NTFS journals its directory entries: a rename needs no flush of its own.
void flushCurrentDirectoryToDisk() {}

bool standardOutputIsConsole()
{
    // Not _isatty, which is true for NUL: only a console has a console mode.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

int consoleColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO information{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &information) == 0)
        return 80;
    return information.srWindow.Right - information.srWindow.Left + 1;
}

void showUtf8OnConsole()
{
    // A pipe, a file and NUL keep their bytes as they are.
    if (!standardOutputIsConsole() || consoleCodePageAtStart != 0)
        return;
    consoleCodePageAtStart = GetConsoleOutputCP();
    if (SetConsoleOutputCP(CP_UTF8) != 0)
        std::atexit(restoreConsoleCodePage);
}

int runClient()
{
    return std::system("ORN_Client.exe");
}

FileReader::~FileReader()
{
    if (isOpen())
        CloseHandle(handle_);
}

bool FileReader::open(const std::string& name)
{
    const HANDLE handle =
        CreateFileW(wide(name.c_str()).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    handle_ = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    return handle_ != nullptr;
}

bool FileReader::isOpen() const
{
    return handle_ != nullptr;
}

long long FileReader::readSomeAt(unsigned long long offset, char* buffer, std::size_t size)
{
    // ReadFile takes at most 4 GiB at once, and the offset in two halves.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD count = 0;
    const DWORD asked = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!ReadFile(handle_, buffer, asked, &count, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return static_cast<long long>(count);
}

}  // namespace platform
