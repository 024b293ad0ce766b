#include "publisher/exclusive_publish.h"

#include <sys/file.h>

#include <cerrno>
#include <cstring>

bool ExclusivePublish::acquire(const std::filesystem::path& channel, bool& heldByAnother, std::string& failure)
{
    heldByAnother = false;
    if (!directory_.open(channel, failure))
        return false;
    // The directory itself carries the lock: no file of ours that a release could collide with.
    if (::flock(directory_.descriptor(), LOCK_EX | LOCK_NB) != 0) {
        heldByAnother = errno == EWOULDBLOCK;
        failure = heldByAnother ? "another orn-publish is publishing " + channel.string() + " now"
                                : "cannot lock " + channel.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
