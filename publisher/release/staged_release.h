#pragma once

#include "channel/release.h"
#include "channel/rollout.h"
#include "publisher/folder/channel_directory.h"

#include <string>
#include <vector>

// The staged release that a verified current release names in its rollout
// line, read as planted until shown otherwise: through no link, no larger
// than the line says, its SHA-256 the signed one, its signature, channel and
// first line checked, and its serial above the current one's.
struct StagedRelease {
    enum class State { none, unverified, verified };  // none: no rollout is on
    State state = State::none;
    Rollout rollout;
    Release release;      // when verified
    std::string problem;  // why it is not verified
};
StagedRelease readStagedRelease(const ChannelDirectory& channel, const Release& current, const std::string& channelName,
                                const std::vector<ReleaseKey>& keys);

// The highest serial signed among the current release and its verified staged one.
unsigned long long highestSignedSerial(const Release& current, const StagedRelease& staged);
