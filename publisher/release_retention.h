#pragma once

#include "channel/release.h"
#include "publisher/channel_directory.h"
#include "publisher/current_release.h"

#include <string>
#include <vector>

// How many releases' objects a publish keeps unless told otherwise: a player
// whose cache still holds one of them finds everything it names.
inline constexpr unsigned defaultKeptReleases = 3;
inline constexpr unsigned mostKeptReleases = 1000;

// Called once `written` is the channel's release: records the objects it
// names among those of the last `keep` releases signed for the channel (in
// the deployer's state, beside the serial record; the channel's previous
// release counts among them when it verified), then removes from by-hash/
// every object that none of them names. Whatever fails is a warning: the
// release is in place, and an object left over only takes room.
void keepLastReleases(const ChannelDirectory& channel, const CurrentRelease& previous, const Release& written,
                      unsigned keep, std::vector<std::string>& warnings);
