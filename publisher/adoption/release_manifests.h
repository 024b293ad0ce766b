#pragma once

#include "channel/release_key.h"
#include "publisher/folder/channel_directory.h"

#include <map>
#include <string>
#include <vector>

// The SHA-256 of each kept release's manifest, which names the object every
// start of that release asks for, and the release's serial. From the
// channel's release when it verifies under `keys`, and from the deployer's
// record of the releases kept; an object of the record counts as a release's
// manifest only when its bytes hold the SHA-256 it is named by and read as a
// manifest of that release's files (the channel's files may be planted).
// What could not be found goes into `notes`, one line each.
std::map<std::string, unsigned long long> keptReleaseManifests(const ChannelDirectory& channel,
                                                               const std::string& channelName,
                                                               const std::vector<ReleaseKey>& keys,
                                                               std::vector<std::string>& notes);
