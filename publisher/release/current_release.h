#pragma once

#include "channel/release.h"
#include "publisher/folder/channel_directory.h"

#include <string>
#include <vector>

// The channel's `release` as the web server holds it. Its contents count
// only when it verifies under one of the deployer's keys and names the channel.
struct CurrentRelease {
    enum class State { missing, unverified, verified };
    State state = State::missing;
    Release release;      // when verified
    std::string keyId;    // the key it names, verified or not
    std::string problem;  // why it is not verified
};
CurrentRelease readCurrentRelease(const ChannelDirectory& channel, const std::string& channelName,
                                  const std::vector<ReleaseKey>& keys);

// True when `md5sums` is the one the release signed and every file it lists
// has its signed size and SHA-256, and the MD5 that md5sums gives, and every
// chunk index it gives is in by-hash/ with its signed size and SHA-256, as
// is every file's and md5sums' object when the release marks the channel
// content-addressed, and a staged release's text is in by-hash/ too;
// otherwise the first difference in `mismatch`.
bool channelMatchesRelease(const ChannelDirectory& channel, const Release& release, std::string& mismatch);
