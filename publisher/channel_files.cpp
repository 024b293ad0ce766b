#include "publisher/channel_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

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
    const bool written = writeAll(fd, text.data(), text.size());
    const int cause = errno;
    if (::close(fd) != 0 || !written) {
        failure = "cannot write " + channel.shown(temporary) + ": " + std::strerror(written ? errno : cause);
        std::string ignored;
        channel.removeFile(temporary, ignored);
        return false;
    }
    return putInPlace(channel, temporary, target, failure);
}
