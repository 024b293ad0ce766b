#pragma once

#include <filesystem>
#include <string>

// One publish of a channel at a time: an OS lock on the channel directory,
// held for the whole run and released by the kernel if the process dies
// (unlike update.lock, which stays up after a failure so launchers wait).
class ExclusivePublish {
public:
    ExclusivePublish() = default;
    ExclusivePublish(const ExclusivePublish&) = delete;
    ExclusivePublish& operator=(const ExclusivePublish&) = delete;
    ~ExclusivePublish();

    // False when another publish holds the channel or it cannot be locked.
    bool acquire(const std::filesystem::path& channel, bool& heldByAnother, std::string& failure);

private:
    int fd_ = -1;
};
