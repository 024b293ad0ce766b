#pragma once

#include "publisher/folder/channel_directory.h"

#include <string>

// Second names for files in the channel: the same bytes on disk once, under
// a published path and its object's. A symbolic link is never followed.

// Gives what stands at `from` the second name `to` (a symbolic link there
// is linked itself).
bool linkInChannel(const ChannelDirectory& channel, const std::string& from, const std::string& to,
                   std::string& failure);
// Gives the open regular file `fd` (wherever it lies) the name `to`, a hard
// link to that very file; false on another file system.
bool linkOpenFile(const ChannelDirectory& channel, int fd, const std::string& to, std::string& failure);
