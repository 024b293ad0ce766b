#pragma once

#include "publisher/channel_directory.h"

#include <filesystem>
#include <string>
#include <vector>

// Where, inside the channel, a secret key could be served to anyone: the key
// file `keyFile` under any other name (a hard link), and any file that reads
// as a secret key file (a copy, whatever its name and mode). Paths as
// messages show them.
std::vector<std::string> secretKeysInChannel(const ChannelDirectory& channel, const std::filesystem::path& keyFile);
