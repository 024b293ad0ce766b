#include "publisher/exclusive_publish.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ExclusivePublish::~ExclusivePublish()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool ExclusivePublish::acquire(const std::filesystem::path& channel, bool& heldByAnother, std::string& failure)
{
    heldByAnother = false;
    // The directory itself carries the lock: no file of ours that a release could collide with.
    fd_ = ::open(channel.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        failure = "cannot open " + channel.string() + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        heldByAnother = errno == EWOULDBLOCK;
        failure = heldByAnother ? "another orn-publish is publishing " + channel.string() + " now"
                                : "cannot lock " + channel.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
