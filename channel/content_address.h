#pragma once

#include "channel/channel_names.h"
#include "channel/release.h"

#include <string>

// A content-addressed channel keeps md5sums and every published file also
// under "by-hash/<its SHA-256>", names whose bytes never change. A cache in
// front of the server may then keep them as long as it likes: only
// update.lock and release change. The signed release says so with one file
// line for md5sums' own copy, "file SHA SIZE by-hash/SHA": a true statement
// about a file in the channel, which launchers that know no objects ignore.
std::string objectPathOf(const std::string& sha256);
// Whether `name` could be an object's name in by-hash/.
bool isObjectName(const std::string& name);
ReleaseEntry contentAddressMarker(const std::string& manifestSha256, unsigned long long manifestSize);
bool isContentAddressed(const Release& release);
// Whether `entry` is that line of `release`.
bool isContentAddressMarker(const ReleaseEntry& entry, const Release& release);
// The manifest's size as the release states it (in the marker); false when it does not.
bool statedManifestSize(const Release& release, unsigned long long& size);
