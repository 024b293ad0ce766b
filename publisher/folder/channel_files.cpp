#include "publisher/folder/channel_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

// nginx and Apache derive ETag and Last-Modified from the size and the
// modification second: a replacement of the same size written within the
// same second would look unchanged to a cache that revalidates, which then
// keeps serving the old copy. The new copy is dated at least a second later.
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

}  // namespace

bool putInPlace(const ChannelDirectory& channel, const std::string& temporary, const std::string& target,
                std::string& failure)
{
    if (channel.rename(temporary, target, failure))
        return true;
    std::string ignored;
    channel.removeFile(temporary, ignored);
    return false;
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
    const int fd = channel.createFresh(temporary, failure);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, text.data(), text.size()) && dateAfterReplaced(channel, fd, target);
    const int cause = errno;
    if (::close(fd) != 0 || !written) {
        failure = "cannot write " + channel.shown(temporary) + ": " + std::strerror(written ? errno : cause);
        std::string ignored;
        channel.removeFile(temporary, ignored);
        return false;
    }
    return putInPlace(channel, temporary, target, failure);
}
