#include "platform/platform.h"

#include "platform/disk.h"

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

void pauseMilliseconds(unsigned int milliseconds)
{
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void returnLargeBuffersPromptly()
{
#ifdef __GLIBC__
    // glibc raises its mmap threshold after each large free, up to 32 MiB,
    // and keeps later pieces in a heap that it cannot shrink; a fixed
    // threshold keeps every large buffer a mapping of its own.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

bool os::moveFileNoReplace(const char* existingName, const char* newName)
{
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, existingName, AT_FDCWD, newName, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // Without an atomic no-replace rename: link fails when newName exists.
    if (link(existingName, newName) != 0)
        return false;
    if (unlink(existingName) != 0) {
        const int cause = errno;
        unlink(newName);
        errno = cause;
        return false;
    }
    return true;
}

bool os::replaceFile(const char* existingName, const char* newName)
{
    return std::rename(existingName, newName) == 0;
}

bool os::removeFile(const char* name)
{
    return unlink(name) == 0;
}

bool os::keepOldCopy(const char* name, const char* oldName)
{
    if (link(name, oldName) == 0)
        return true;
    // A volume without links (FAT, some network shares): the rename leaves a moment without `name`.
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EXDEV && errno != EMLINK)
        return false;
    return os::moveFileNoReplace(name, oldName);
}

// POSIX renames and deletes files that others hold open: only a busy mount point refuses.
bool isHeldFileFailure(int errorNumber)
{
    return errorNumber == EBUSY || errorNumber == ETXTBSY;
}

void copyAccessMode(const char* from, const char* to)
{
    struct stat status;
    if (stat(from, &status) == 0)
        chmod(to, status.st_mode & 07777);
}

bool changeDirectory(const char* path)
{
    return chdir(path) == 0;
}

bool removeEmptyDirectory(const char* name)
{
    return rmdir(name) == 0;
}

std::string fullFolderName(const std::string& folder)
{
    std::string name(4096, '\0');
    if (getcwd(&name[0], name.size()) == nullptr)
        return folder.empty() ? "." : folder;
    name.resize(name.find('\0'));
    return folder.empty() ? name : name + (name.back() == '/' ? "" : "/") + folder;
}

bool os::makeDirectory(const char* name)
{
    if (mkdir(name, 0777) == 0)
        return true;
    struct stat status;
    return errno == EEXIST && stat(name, &status) == 0 && S_ISDIR(status.st_mode);
}

bool fileFacts(const std::string& name, FileFacts& facts)
{
    struct stat status {};
    if (::stat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    facts.size = static_cast<unsigned long long>(status.st_size);
    facts.modifiedNs = static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
    facts.changedNs = static_cast<long long>(status.st_ctim.tv_sec) * 1000000000LL + status.st_ctim.tv_nsec;
    facts.device = static_cast<unsigned long long>(status.st_dev);
    facts.identity = static_cast<unsigned long long>(status.st_ino);
    return true;
}

long long nowNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void os::openForWriting(std::ofstream& file, const std::string& name)
{
    file.open(name, std::ios::out | std::ios::binary | std::ios::trunc);
}

void openForReading(std::ifstream& file, const std::string& name)
{
    file.open(name, std::ios::in | std::ios::binary);
}

void os::openForAppending(std::ofstream& file, const std::string& name)
{
    file.open(name, std::ios::out | std::ios::binary | std::ios::app);
}

bool os::freeDiskSpace(const char* directory, unsigned long long& bytes)
{
    struct statvfs volume;
    if (::statvfs(directory, &volume) != 0)
        return false;
    bytes = static_cast<unsigned long long>(volume.f_bavail) * volume.f_frsize;
    return true;
}

void keepSocketAlive(unsigned long long socketHandle)
{
    const int on = 1;
    ::setsockopt(static_cast<int>(socketHandle), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
}

bool os::truncateFile(const std::string& name, unsigned long long size)
{
    return ::truncate(name.c_str(), static_cast<off_t>(size)) == 0;
}

bool os::flushFileToDisk(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool flushed = ::fsync(fd) == 0;
    return ::close(fd) == 0 && flushed;
}

void flushCurrentDirectoryToDisk()
{
    // POSIX keeps a rename in the directory's own data.
    const int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool standardOutputIsConsole()
{
    return ::isatty(STDOUT_FILENO) == 1;
}

int consoleColumns()
{
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// A terminal shows the bytes as they are; UTF-8 is what terminals expect.
void showUtf8OnConsole() {}

int runClient()
{
    // cmd.exe finds a program in the current directory before the search
    // path; sh only searches the path, so name the local one explicitly.
    const char* command = access("ORN_Client.exe", F_OK) == 0 ? "./ORN_Client.exe" : "ORN_Client.exe";
    const int status = std::system(command);
    if (status == -1)
        return -1;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return status;
}

FileReader::~FileReader()
{
    if (isOpen())
        ::close(static_cast<int>(reinterpret_cast<std::intptr_t>(handle_)) - 1);
}

bool FileReader::open(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    handle_ = reinterpret_cast<void*>(static_cast<std::intptr_t>(fd + 1));
    return fd >= 0;
}

bool FileReader::isOpen() const
{
    return handle_ != nullptr;
}

long long FileReader::readSomeAt(unsigned long long offset, char* buffer, std::size_t size)
{
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(handle_)) - 1;
    for (;;) {
        const ssize_t count = ::pread(fd, buffer, size, static_cast<off_t>(offset));
        if (count >= 0 || errno != EINTR)
            return count;
    }
}

}  // namespace platform
