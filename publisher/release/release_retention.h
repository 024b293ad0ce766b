#pragma once

#include "channel/release.h"
#include "publisher/folder/channel_directory.h"
#include "publisher/release/current_release.h"
#include "publisher/release/object_check.h"
#include "publisher/state/kept_releases_record.h"

#include <map>
#include <string>
#include <vector>

// How many releases' objects a publish keeps unless told otherwise: a player
// whose cache still holds one of them finds everything it names.
inline constexpr unsigned defaultKeptReleases = 3;
inline constexpr unsigned mostKeptReleases = 1000;

KeptRelease keptReleaseOf(const Release& release);

// The deployer's record of the releases kept in the channel, oldest first.
// `found` false when there is none; false, with the reason, when it cannot
// be read.
bool readKeptReleases(const ChannelDirectory& channel, std::vector<KeptRelease>& releases, bool& found,
                      std::string& failure);

// Called once `written` is the channel's release. Records the releases whose
// objects are kept (in the deployer's state, beside the serial record):
// `written` always, and of the others (the channel's previous release among
// them when it verified) the last published, up to `keep` in all. Removes an older
// release's object that a write onto a published file in place changed
// through a hard link (`hashed`: what this run read). Then, once the record
// knows `keep` releases, removes from by-hash/ every object none of them
// names: until then an object may belong to a release it never saw.
// Whatever fails is a warning: the release is in place, and an object left
// over only takes room. With `staged`, `written` is the current release
// during a rollout, kept with `staged` (and the staged text it names) as the
// latest: at least these two, whatever `keep`.
void keepLastReleases(const ChannelDirectory& channel, const CurrentRelease& previous, const Release& written,
                      unsigned keep, HashedFiles& hashed, std::vector<std::string>& warnings,
                      const Release* staged = nullptr);
