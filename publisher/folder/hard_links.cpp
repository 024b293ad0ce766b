#include "publisher/folder/hard_links.h"

#include <fcntl.h>
#include <unistd.h>

bool linkInChannel(const ChannelDirectory& channel, const std::string& from, const std::string& to,
                   std::string& failure)
{
    const ChannelEntry source = channel.entry(from);
    const ChannelEntry target = source.directory.get() < 0 ? ChannelEntry() : channel.entry(to);
    if (target.directory.get() < 0 ||
        ::linkat(source.directory.get(), source.name.c_str(), target.directory.get(), target.name.c_str(), 0) != 0) {
        failure = "cannot link " + channel.shown(to) + ": " + describeChannelErrno();
        return false;
    }
    return true;
}

bool linkOpenFile(const ChannelDirectory& channel, int fd, const std::string& to, std::string& failure)
{
    const ChannelEntry target = channel.entry(to);
    // Through /proc: linking the descriptor itself (AT_EMPTY_PATH) needs a privilege.
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    if (target.directory.get() < 0 ||
        ::linkat(AT_FDCWD, opened.c_str(), target.directory.get(), target.name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        failure = "cannot link " + channel.shown(to) + ": " + describeChannelErrno();
        return false;
    }
    return true;
}
