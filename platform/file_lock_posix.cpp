#include "platform/file_lock.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

FileLock::Outcome FileLock::tryTake(const char* name)
{
    release();
    int fd = ::open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        fd = ::open(name, O_RDONLY | O_CLOEXEC);  // a read-only folder that kept an earlier run's file
    if (fd < 0)
        return Outcome::unavailable;
    int locked;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? Outcome::heldElsewhere : Outcome::unavailable;
    }
    handle_ = reinterpret_cast<void*>(static_cast<std::intptr_t>(fd) + 1);
    return Outcome::taken;
}

void FileLock::release()
{
    if (handle_ == nullptr)
        return;
    ::close(static_cast<int>(reinterpret_cast<std::intptr_t>(handle_) - 1));
    handle_ = nullptr;
}

}  // namespace platform
