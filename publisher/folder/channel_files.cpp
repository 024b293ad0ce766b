#include "publisher/folder/channel_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

bool dateAfterReplaced(const ChannelDirectory& channel, int fd, const std::string& target)
{
    struct stat replaced {};
    if (!channel.statOf(target, replaced) || !S_ISREG(replaced.st_mode))
        return true;
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const struct timespec& old = replaced.st_mtim;
    if (now.tv_sec > old.tv_sec + 1 || (now.tv_sec == old.tv_sec + 1 && now.tv_nsec >= old.tv_nsec))
        return true;
    struct timespec times[2] = {now, old};
    times[1].tv_sec += 1;
    return ::futimens(fd, times) == 0;
}

bool datedAfterReplaced(const ChannelDirectory& channel, int fd, const std::string& target)
{
    struct stat replaced {};
    struct stat replacement {};
    if (!channel.statOf(target, replaced) || !S_ISREG(replaced.st_mode))
        return true;
    return ::fstat(fd, &replacement) == 0 && replacement.st_mtim.tv_sec > replaced.st_mtim.tv_sec;
}

bool putInPlace(const ChannelDirectory& channel, const std::string& temporary, const std::string& target,
                std::string& failure)
{
    const ChannelEntry from = channel.entry(temporary);
    const ChannelEntry to = from.directory.get() < 0 ? ChannelEntry() : channel.entry(target);
    if (to.directory.get() >= 0 &&
        ::renameat(from.directory.get(), from.name.c_str(), to.directory.get(), to.name.c_str()) == 0)
        return true;
    failure = "cannot put " + channel.shown(target) + " in place: " + describeChannelErrno();
    std::string ignored;
    channel.removeFile(temporary, ignored);
    return false;
}

bool readWholeFile(const ChannelDirectory& channel, const std::string& relative, std::size_t limit, std::string& text,
                   bool& missing, std::string& failure)
{
    text.clear();
    const ScopedDescriptor file = channel.openForReading(relative);
    missing = file.get() < 0 && errno == ENOENT;
    const auto cannot = [&](const std::string& why) { return "cannot read " + channel.shown(relative) + ": " + why; };
    if (file.get() < 0) {
        failure = cannot(errno == EINVAL ? "not a regular file" : describeChannelErrno());
        return false;
    }
    struct stat facts {};
    if (::fstat(file.get(), &facts) != 0 || facts.st_nlink != 1) {
        failure = cannot("a file with other names (a hard link), which may be anything");
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
            failure = cannot(count < 0 ? describeChannelErrno() : "larger than " + std::to_string(limit) + " bytes");
            return false;
        }
        text.append(piece, static_cast<std::size_t>(count));
    }
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        data += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

bool writeAtomically(const ChannelDirectory& channel, const std::string& target, const std::string& text,
                     std::string& failure)
{
    const std::string temporary = target + publisherTemporarySuffix;
    ScopedDescriptor file = channel.createFresh(temporary, failure);
    if (file.get() < 0)
        return false;
    const bool written =
        writeAll(file.get(), text.data(), text.size()) && dateAfterReplaced(channel, file.get(), target);
    const int cause = errno;
    if (!file.close() || !written) {
        failure = "cannot write " + channel.shown(temporary) + ": " + std::strerror(written ? errno : cause);
        std::string ignored;
        channel.removeFile(temporary, ignored);
        return false;
    }
    return putInPlace(channel, temporary, target, failure);
}
