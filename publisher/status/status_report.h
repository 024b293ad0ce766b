#pragma once

#include "channel/release_key.h"
#include "publisher/folder/channel_directory.h"
#include "publisher/release/current_release.h"
#include "publisher/release/staged_release.h"

#include <filesystem>
#include <string>
#include <vector>

// What `status` tells of a channel, each line's text gathered before any is
// printed; the release read and verified once.
struct StatusReport {
    std::string lock;  // empty when the lock is down and no publish runs
    bool publishing = false;
    CurrentRelease current;
    // Once the release verified:
    std::string serial;
    std::string expiry;
    std::string files;
    std::size_t chunkIndexes = 0;
    std::string filesMatch;
    std::string keptReleases;
    StagedRelease staged;
    std::string rollout;          // empty when no rollout is on
    std::string rolloutSchedule;  // empty for a fixed share
    std::vector<std::string> warnings;
    bool healthy = false;  // nothing that calls for the deployer: status 0
};

StatusReport gatherStatus(const ChannelDirectory& directory, const std::filesystem::path& channel,
                          const std::string& channelName, const std::vector<ReleaseKey>& keys, unsigned warnDays,
                          long long now);
