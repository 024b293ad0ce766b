#pragma once

#include "publisher/folder/channel_directory.h"

#include <filesystem>
#include <string>

// One publish of a channel at a time: an OS lock on the opened channel
// directory, held for the whole run and released by the kernel if the
// process dies (unlike update.lock, which stays up after a failure so
// launchers wait).
class ExclusivePublish {
public:
    // Opens the channel (see ChannelDirectory::open) and locks it. False when
    // another publish holds the channel or it cannot be opened or locked.
    // `waitBriefly`: a holder that lets go within two seconds is waited for.
    bool acquire(const std::filesystem::path& channel, bool& heldByAnother, std::string& failure,
                 bool waitBriefly = true);

    // The channel held: every access to it goes through this.
    const ChannelDirectory& directory() const { return directory_; }

private:
    ChannelDirectory directory_;
};
