#include "publisher/folder/scoped_descriptor.h"

#include <unistd.h>

#include <cerrno>

ScopedDescriptor& ScopedDescriptor::operator=(ScopedDescriptor&& other) noexcept
{
    if (this != &other) {
        closeKeepingErrno();
        fd_ = other.release();
    }
    return *this;
}

ScopedDescriptor::~ScopedDescriptor()
{
    closeKeepingErrno();
}

bool ScopedDescriptor::close()
{
    const int fd = release();
    return fd < 0 || ::close(fd) == 0;
}

int ScopedDescriptor::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void ScopedDescriptor::closeKeepingErrno()
{
    const int cause = errno;
    close();
    errno = cause;
}
