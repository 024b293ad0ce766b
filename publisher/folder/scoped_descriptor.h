#pragma once

// A descriptor this scope owns: closed when the scope ends, or earlier by
// close(), which says whether the system took it (a write may fail only
// then). Closing on the way out of a failure keeps errno as it was.
class ScopedDescriptor {
public:
    ScopedDescriptor() = default;
    explicit ScopedDescriptor(int fd) : fd_(fd) {}
    ScopedDescriptor(ScopedDescriptor&& other) noexcept : fd_(other.release()) {}
    ScopedDescriptor& operator=(ScopedDescriptor&& other) noexcept;
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;
    ~ScopedDescriptor();

    int get() const { return fd_; }
    // False, errno set, when closing fails; true when nothing was open.
    bool close();
    // Hands the descriptor to its next owner (fdopendir, say) and forgets it.
    int release();

private:
    void closeKeepingErrno();

    int fd_ = -1;
};
