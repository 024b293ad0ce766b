#include "publisher/folder/exclusive_publish.h"

#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

bool ExclusivePublish::acquire(const std::filesystem::path& channel, bool& heldByAnother, std::string& failure,
                               bool waitBriefly)
{
    heldByAnother = false;
    if (!directory_.open(channel, failure))
        return false;
    // The directory itself carries the lock: no file of ours that a release could collide with.
    // `status` holds it for an instant to see whether a publish runs: a publish waits that out.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(waitBriefly ? 2 : 0);
    int locked = -1;
    while ((locked = ::flock(directory_.descriptor(), LOCK_EX | LOCK_NB)) != 0 && errno == EWOULDBLOCK &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (locked != 0) {
        heldByAnother = errno == EWOULDBLOCK;
        failure = heldByAnother ? "another orn-publish is publishing " + channel.string() + " now"
                                : "cannot lock " + channel.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
