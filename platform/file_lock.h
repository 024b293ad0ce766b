#pragma once

namespace platform {

// An exclusive lock on a file, taken without waiting, that the operating
// system drops when the process ends however it ends: flock on POSIX,
// LockFileEx on Windows. The file itself stays, so that no two processes
// ever lock two different files of one name.
class FileLock {
public:
    enum class Outcome {
        taken,
        heldElsewhere,
        // The file can be neither created nor opened (a folder the player may not write).
        unavailable,
    };

    FileLock() = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() { release(); }

    Outcome tryTake(const char* name);
    void release();

private:
    void* handle_ = nullptr;  // a HANDLE on Windows; the descriptor + 1 elsewhere
};

}  // namespace platform
