#pragma once

#include <filesystem>
#include <string>

// Why publishing the release tree `source` into `channel` looks like a
// slip of the deployer's (the folders swapped, nested or mistyped, the web
// root or the folder of all channels given for one channel), checked
// before anything is written; empty when it does not. `newChannel`: the
// deployer said that `channel` is to become a channel, though it is not
// empty or other channels sit beside it.
std::string wrongFolders(const std::filesystem::path& source, const std::filesystem::path& channel, bool newChannel);

// The same for promoting the channel `from` into the channel `to`: the two
// the same, one inside the other, `from` no channel, or `to` mistyped.
std::string wrongPromotion(const std::filesystem::path& from, const std::filesystem::path& to, bool newChannel);

// Why `channel` cannot be rolled back: it is no channel (a mistyped name,
// say); empty when it is one.
std::string notAChannel(const std::filesystem::path& channel);
