#include "publisher/state/state_directory.h"

#include "digest/sha256.h"
#include "publisher/folder/channel_files.h"
#include "publisher/folder/private_folders.h"
#include "publisher/folder/resolved_path.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace fs = std::filesystem;

namespace {

const char* const temporarySuffix = ".tmp";

std::string describeErrno()
{
    return std::strerror(errno);
}

fs::path stateDirectory()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')  // a relative one is ignored, as the XDG rules say
        return fs::path(state) / "orn-publish";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* user = ::getpwuid(::geteuid());
        home = user != nullptr ? user->pw_dir : "/";
    }
    return fs::path(home) / ".local" / "state" / "orn-publish";
}

// The state directory, opened without following a link and only when it is
// the deployer's own; -1 with `missing` when it does not exist yet.
int openStateDirectory(bool create, bool& missing, std::string& failure)
{
    const fs::path directory = stateDirectory();
    if (create && !makePrivateFolders(directory, failure))
        return -1;
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    missing = fd < 0 && errno == ENOENT;
    struct stat facts {};
    if (fd < 0 || ::fstat(fd, &facts) != 0 || facts.st_uid != ::geteuid() ||
        ((facts.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0)) {
        if (!missing)
            failure = "the state directory " + directory.string() +
                      (fd >= 0 && facts.st_uid != ::geteuid()
                           ? " belongs to another user"
                           : ": " + describeErrno() + (errno == ELOOP ? " (a symbolic link)" : ""));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool channelStatePath(const fs::path& channel, std::string& path, std::string& failure)
{
    fs::path resolved;
    if (!resolvedPath(channel, resolved, failure))
        return false;
    path = resolved.string();
    return true;
}

bool readStateFile(const std::string& channelPath, const std::string& suffix, std::size_t limit, std::string& text,
                   bool& found, std::string& file, std::string& failure)
{
    const std::string name = sha256Hex(channelPath) + suffix;
    file = (stateDirectory() / name).string();
    text.clear();
    found = false;
    bool missing = false;
    const int directory = openStateDirectory(false, missing, failure);
    if (directory < 0)
        return missing;
    const int fd = ::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int cause = errno;
    ::close(directory);
    if (fd < 0 && cause == ENOENT)
        return true;
    found = true;
    struct stat facts {};
    if (fd >= 0 && ::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) &&
        static_cast<unsigned long long>(facts.st_size) <= limit) {
        text.resize(static_cast<std::size_t>(facts.st_size));
        if (!text.empty() && ::read(fd, &text[0], text.size()) != static_cast<ssize_t>(text.size()))
            text.clear();
    }
    if (fd >= 0)
        ::close(fd);
    return true;
}

bool writeStateFile(const std::string& channelPath, const std::string& suffix, const std::string& text,
                    std::string& file, std::string& failure)
{
    const std::string name = sha256Hex(channelPath) + suffix;
    const std::string temporary = name + temporarySuffix;
    file = (stateDirectory() / name).string();
    bool missing = false;
    const int directory = openStateDirectory(true, missing, failure);
    if (directory < 0)
        return false;
    ::unlinkat(directory, temporary.c_str(), 0);  // a killed run's; a link is removed, never followed
    const int fd = ::openat(directory, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool saved = fd >= 0 && writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    if (fd >= 0)
        saved = ::close(fd) == 0 && saved;
    saved = saved && ::renameat(directory, temporary.c_str(), directory, name.c_str()) == 0;
    if (!saved) {
        failure = "cannot write " + file + ": " + describeErrno();
        ::unlinkat(directory, temporary.c_str(), 0);
    } else {
        ::fsync(directory);
    }
    ::close(directory);
    return saved;
}

bool removeStateFile(const std::string& channelPath, const std::string& suffix, std::string& failure)
{
    const std::string name = sha256Hex(channelPath) + suffix;
    bool missing = false;
    const int directory = openStateDirectory(false, missing, failure);
    if (directory < 0)
        return missing;
    const bool removed = ::unlinkat(directory, name.c_str(), 0) == 0 || errno == ENOENT;
    if (!removed)
        failure = "cannot remove " + (stateDirectory() / name).string() + ": " + describeErrno();
    ::close(directory);
    return removed;
}
