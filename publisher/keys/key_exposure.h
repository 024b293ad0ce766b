#pragma once

#include "channel/release_key.h"
#include "publisher/folder/channel_directory.h"

#include <filesystem>
#include <string>
#include <vector>

// Where, inside the channel, a secret key could be served to anyone: the key
// file `keyFile` under any other name (a hard link), and any small file that
// holds a secret key file's text or the secret of `key` in base64 (a copy,
// whatever its name, mode or line ends). Paths as messages show them.
std::vector<std::string> secretKeysInChannel(const ChannelDirectory& channel, const std::filesystem::path& keyFile,
                                             const ReleaseKey& key);

// What to tell the deployer when secretKeysInChannel finds any; empty when it finds none.
std::string exposedKeyProblem(const ChannelDirectory& channel, const std::filesystem::path& keyFile,
                              const ReleaseKey& key);
