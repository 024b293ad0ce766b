#include "publisher/folder/channel_directory.h"

#include "publisher/console/shown_text.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

const mode_t directoryMode = 0755;  // the web server must enter it, whatever the umask
const mode_t fileMode = 0644;       // and read it

std::string describeErrno()
{
    return errno == ELOOP ? "a symbolic link is in the way" : std::strerror(errno);
}

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
// through a link; makes the missing ones when `make`. -1 with errno set.
int walk(int start, const std::vector<std::string>& segments, std::size_t count, bool make)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    // A descriptor of its own (not a dup): reading the directory moves its offset.
    int current = ::openat(start, ".", flags);
    for (std::size_t i = 0; i < count && current >= 0; ++i) {
        int next = ::openat(current, segments[i].c_str(), flags);
        if (next < 0 && errno == ENOENT && make && ::mkdirat(current, segments[i].c_str(), directoryMode) == 0) {
            next = ::openat(current, segments[i].c_str(), flags);
            if (next >= 0 && ::fchmod(next, directoryMode) != 0) {
                ::close(next);
                next = -1;
            }
        }
        const int cause = errno;
        ::close(current);
        current = next;
        errno = cause;
    }
    return current;
}

// Reads a directory's names (without "." and ".."), taking its descriptor.
bool readNames(int fd, std::vector<std::string>& names)
{
    DIR* directory = ::fdopendir(fd);
    if (directory == nullptr) {
        ::close(fd);
        return false;
    }
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

ScopedDescriptor::~ScopedDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

ChannelDirectory::~ChannelDirectory()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool ChannelDirectory::open(const std::filesystem::path& channel, std::string& failure)
{
    // "latest/" or "latest/." would follow a link named latest.
    std::string normal = channel.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    path_ = normal.empty() ? std::filesystem::path(".") : std::filesystem::path(normal);
    fd_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
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
    const int fd = walk(fd_, segments, segments.size(), false);
    return fd >= 0 && readNames(fd, names);
}

int ChannelDirectory::openParent(const std::string& relative, std::string& leaf, bool make) const
{
    std::vector<std::string> segments;
    if (!split(relative, segments)) {
        errno = EINVAL;
        return -1;
    }
    leaf = segments.back();
    return walk(fd_, segments, segments.size() - 1, make);
}

bool ChannelDirectory::statOf(const std::string& relative, struct stat& facts) const
{
    std::string leaf;
    const ScopedDescriptor parent(openParent(relative, leaf, false));
    return parent.get() >= 0 && ::fstatat(parent.get(), leaf.c_str(), &facts, AT_SYMLINK_NOFOLLOW) == 0;
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

int ChannelDirectory::openForReading(const std::string& relative) const
{
    std::string leaf;
    const ScopedDescriptor parent(openParent(relative, leaf, false));
    // Non-blocking: a planted FIFO must not hang the run.
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const int fd = parent.get() < 0 ? -1 : ::openat(parent.get(), leaf.c_str(), flags);
    struct stat facts {};
    if (fd >= 0 && (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool ChannelDirectory::readFile(const std::string& relative, std::size_t limit, std::string& text, bool& missing,
                                std::string& failure) const
{
    text.clear();
    const ScopedDescriptor file(openForReading(relative));
    missing = file.get() < 0 && errno == ENOENT;
    if (file.get() < 0) {
        failure = "cannot read " + shown(relative) + ": " + (errno == EINVAL ? "not a regular file" : describeErrno());
        return false;
    }
    struct stat facts {};
    if (::fstat(file.get(), &facts) != 0 || facts.st_nlink != 1) {
        failure = "cannot read " + shown(relative) + ": a file with other names (a hard link), which may be anything";
        return false;
    }
    char piece[65536];
    for (;;) {
        const ssize_t count = ::read(file.get(), piece, sizeof piece);
        if (count == 0)
            return true;
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 || text.size() + static_cast<std::size_t>(count) > limit) {
            failure = "cannot read " + shown(relative) + ": " +
                      (count < 0 ? describeErrno() : "larger than " + std::to_string(limit) + " bytes");
            return false;
        }
        text.append(piece, static_cast<std::size_t>(count));
    }
}

bool ChannelDirectory::makeDirectories(const std::string& relative, std::string& failure) const
{
    std::vector<std::string> segments;
    const bool valid = split(relative, segments);
    const ScopedDescriptor made(valid ? walk(fd_, segments, segments.size(), true) : -1);
    if (made.get() < 0)
        failure = "cannot create " + shown(relative) + ": " + (valid ? describeErrno() : "not a path in the channel");
    return made.get() >= 0;
}

int ChannelDirectory::createFresh(const std::string& relative, std::string& failure) const
{
    std::string leaf;
    const ScopedDescriptor parent(openParent(relative, leaf, false));
    int fd = -1;
    if (parent.get() >= 0) {
        ::unlinkat(parent.get(), leaf.c_str(), 0);  // a leftover or a link: the name only, never what it leads to
        fd = ::openat(parent.get(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fileMode);
    }
    if (fd >= 0 && ::fchmod(fd, fileMode) != 0) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0)
        failure = "cannot create " + shown(relative) + ": " + describeErrno();
    return fd;
}

int ChannelDirectory::openForAppending(const std::string& relative, std::string& failure) const
{
    std::string leaf;
    const ScopedDescriptor parent(openParent(relative, leaf, false));
    const int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = parent.get() < 0 ? -1 : ::openat(parent.get(), leaf.c_str(), flags | O_CREAT | O_EXCL, fileMode);
    if (fd >= 0 && ::fchmod(fd, fileMode) != 0) {
        ::close(fd);
        fd = -1;
    } else if (fd < 0 && errno == EEXIST) {
        fd = ::openat(parent.get(), leaf.c_str(), flags);
        struct stat facts {};
        if (fd >= 0 && (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode) || facts.st_nlink != 1)) {
            ::close(fd);
            failure = "cannot write " + shown(relative) + ": not a regular file of its own (a hard link?)";
            return -1;
        }
    }
    if (fd < 0)
        failure = "cannot write " + shown(relative) + ": " + describeErrno();
    return fd;
}

bool ChannelDirectory::rename(const std::string& from, const std::string& to, std::string& failure) const
{
    std::string fromLeaf;
    std::string toLeaf;
    const ScopedDescriptor fromParent(openParent(from, fromLeaf, false));
    const ScopedDescriptor toParent(fromParent.get() < 0 ? -1 : openParent(to, toLeaf, false));
    if (toParent.get() < 0 || ::renameat(fromParent.get(), fromLeaf.c_str(), toParent.get(), toLeaf.c_str()) != 0) {
        failure = "cannot put " + shown(to) + " in place: " + describeErrno();
        return false;
    }
    return true;
}

bool ChannelDirectory::link(const std::string& from, const std::string& to, std::string& failure) const
{
    std::string fromLeaf;
    std::string toLeaf;
    const ScopedDescriptor fromParent(openParent(from, fromLeaf, false));
    const ScopedDescriptor toParent(fromParent.get() < 0 ? -1 : openParent(to, toLeaf, false));
    if (toParent.get() < 0 || ::linkat(fromParent.get(), fromLeaf.c_str(), toParent.get(), toLeaf.c_str(), 0) != 0) {
        failure = "cannot link " + shown(to) + ": " + describeErrno();
        return false;
    }
    return true;
}

bool ChannelDirectory::linkDescriptor(int fd, const std::string& to, std::string& failure) const
{
    std::string leaf;
    const ScopedDescriptor parent(openParent(to, leaf, false));
    // Through /proc: linking the descriptor itself (AT_EMPTY_PATH) needs a privilege.
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    if (parent.get() < 0 ||
        ::linkat(AT_FDCWD, opened.c_str(), parent.get(), leaf.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        failure = "cannot link " + shown(to) + ": " + describeErrno();
        return false;
    }
    return true;
}

bool ChannelDirectory::removeFile(const std::string& relative, std::string& failure) const
{
    std::string leaf;
    const ScopedDescriptor parent(openParent(relative, leaf, false));
    struct stat facts {};
    if (parent.get() < 0 || ::fstatat(parent.get(), leaf.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
        failure = "cannot remove " + shown(relative) + ": " + describeErrno();
        return false;
    }
    if (!S_ISREG(facts.st_mode)) {
        failure = "cannot remove " + shown(relative) + ": not a regular file";
        return false;
    }
    // Flag 0: unlinkat never removes a directory, and removes a link itself, not its target.
    if (::unlinkat(parent.get(), leaf.c_str(), 0) != 0) {
        failure = "cannot remove " + shown(relative) + ": " + describeErrno();
        return false;
    }
    return true;
}
