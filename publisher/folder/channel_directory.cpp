#include "publisher/folder/channel_directory.h"

#include "publisher/console/shown_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

const mode_t directoryMode = 0755;  // the web server must enter it, whatever the umask

// Empty, ".", ".." or a doubled "/" would leave the segment-by-segment walk.
bool split(const std::string& relative, std::vector<std::string>& segments)
{
    segments.clear();
    std::string::size_type start = 0;
    while (start <= relative.size()) {
        const std::string::size_type end = std::min(relative.find('/', start), relative.size());
        const std::string segment = relative.substr(start, end - start);
        if (segment.empty() || segment == "." || segment == "..")
            return false;
        segments.push_back(segment);
        start = end + 1;
    }
    return true;
}

// Opens the first `count` segments below `start` as directories, none
// through a link; makes the missing ones when `make`. None with errno set.
ScopedDescriptor walk(int start, const std::vector<std::string>& segments, std::size_t count, bool make)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    // A descriptor of its own (not a dup): reading the directory moves its offset.
    ScopedDescriptor current(::openat(start, ".", flags));
    for (std::size_t i = 0; i < count && current.get() >= 0; ++i) {
        const char* segment = segments[i].c_str();
        ScopedDescriptor next(::openat(current.get(), segment, flags));
        if (next.get() < 0 && errno == ENOENT && make && ::mkdirat(current.get(), segment, directoryMode) == 0) {
            next = ScopedDescriptor(::openat(current.get(), segment, flags));
            if (next.get() >= 0 && ::fchmod(next.get(), directoryMode) != 0)
                next = ScopedDescriptor();
        }
        current = std::move(next);
    }
    return current;
}

// Reads a directory's names (without "." and "..").
bool readNames(ScopedDescriptor opened, std::vector<std::string>& names)
{
    DIR* directory = ::fdopendir(opened.get());
    if (directory == nullptr)
        return false;
    opened.release();  // closedir closes it
    errno = 0;
    while (const dirent* entry = ::readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    }
    const bool complete = errno == 0;
    ::closedir(directory);
    return complete;
}

}  // namespace

std::string describeChannelErrno()
{
    return errno == ELOOP ? "a symbolic link is in the way" : std::strerror(errno);
}

bool ChannelDirectory::open(const std::filesystem::path& channel, std::string& failure)
{
    // "latest/" or "latest/." would follow a link named latest.
    std::string normal = channel.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    path_ = normal.empty() ? std::filesystem::path(".") : std::filesystem::path(normal);
    fd_ = ScopedDescriptor(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd_.get() < 0) {
        failure = "cannot open " + channel.string() + ": " +
                  (errno == ELOOP || errno == ENOTDIR ? "not a directory (a symbolic link is refused)"
                                                      : std::strerror(errno));
        return false;
    }
    return true;
}

std::string ChannelDirectory::shown(const std::string& relative) const
{
    return shownText(relative.empty() ? path_.string() : (path_ / relative).string());
}

bool ChannelDirectory::list(const std::string& relative, std::vector<std::string>& names) const
{
    std::vector<std::string> segments;
    names.clear();
    if (!relative.empty() && !split(relative, segments))
        return false;
    ScopedDescriptor directory = walk(fd_.get(), segments, segments.size(), false);
    return directory.get() >= 0 && readNames(std::move(directory), names);
}

ChannelEntry ChannelDirectory::entry(const std::string& relative) const
{
    std::vector<std::string> segments;
    if (!split(relative, segments)) {
        errno = EINVAL;
        return ChannelEntry();
    }
    return ChannelEntry{walk(fd_.get(), segments, segments.size() - 1, false), segments.back()};
}

bool ChannelDirectory::statOf(const std::string& relative, struct stat& facts) const
{
    const ChannelEntry at = entry(relative);
    return at.directory.get() >= 0 && ::fstatat(at.directory.get(), at.name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) == 0;
}

ChannelDirectory::Kind ChannelDirectory::kindOf(const std::string& relative, unsigned long long* size) const
{
    struct stat facts {};
    if (!statOf(relative, facts))
        return errno == ENOENT || errno == ENOTDIR ? Kind::missing : errno == ELOOP ? Kind::link : Kind::other;
    if (size != nullptr)
        *size = static_cast<unsigned long long>(facts.st_size);
    if (S_ISREG(facts.st_mode))
        return Kind::regular;
    if (S_ISDIR(facts.st_mode))
        return Kind::directory;
    return S_ISLNK(facts.st_mode) ? Kind::link : Kind::other;
}

ScopedDescriptor ChannelDirectory::openForReading(const std::string& relative) const
{
    const ChannelEntry at = entry(relative);
    // Non-blocking: a planted FIFO must not hang the run.
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    ScopedDescriptor file(at.directory.get() < 0 ? -1 : ::openat(at.directory.get(), at.name.c_str(), flags));
    struct stat facts {};
    if (file.get() >= 0 && (::fstat(file.get(), &facts) != 0 || !S_ISREG(facts.st_mode))) {
        errno = EINVAL;
        return ScopedDescriptor();
    }
    return file;
}

bool ChannelDirectory::makeDirectories(const std::string& relative, std::string& failure) const
{
    std::vector<std::string> segments;
    const bool valid = split(relative, segments);
    const ScopedDescriptor made = valid ? walk(fd_.get(), segments, segments.size(), true) : ScopedDescriptor();
    if (made.get() < 0)
        failure =
            "cannot create " + shown(relative) + ": " + (valid ? describeChannelErrno() : "not a path in the channel");
    return made.get() >= 0;
}

ScopedDescriptor ChannelDirectory::createFresh(const std::string& relative, std::string& failure) const
{
    const ChannelEntry at = entry(relative);
    ScopedDescriptor file;
    if (at.directory.get() >= 0) {
        // A leftover or a link: the name only goes, never what it leads to.
        ::unlinkat(at.directory.get(), at.name.c_str(), 0);
        const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        file = ScopedDescriptor(::openat(at.directory.get(), at.name.c_str(), flags, channelFileMode));
    }
    if (file.get() >= 0 && ::fchmod(file.get(), channelFileMode) != 0)
        file = ScopedDescriptor();
    if (file.get() < 0)
        failure = "cannot create " + shown(relative) + ": " + describeChannelErrno();
    return file;
}

bool ChannelDirectory::removeFile(const std::string& relative, std::string& failure) const
{
    const ChannelEntry at = entry(relative);
    struct stat facts {};
    if (at.directory.get() < 0 || ::fstatat(at.directory.get(), at.name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
        failure = "cannot remove " + shown(relative) + ": " + describeChannelErrno();
        return false;
    }
    if (!S_ISREG(facts.st_mode)) {
        failure = "cannot remove " + shown(relative) + ": not a regular file";
        return false;
    }
    // Flag 0: unlinkat never removes a directory, and removes a link itself, not its target.
    if (::unlinkat(at.directory.get(), at.name.c_str(), 0) != 0) {
        failure = "cannot remove " + shown(relative) + ": " + describeChannelErrno();
        return false;
    }
    return true;
}
