#pragma once

#include "channel/release.h"

#include <map>
#include <string>
#include <vector>

// The record of the releases whose objects a channel keeps, in the
// deployer's state directory beside the serial record.

// An object whose size the record does not know (written by an earlier version).
inline constexpr unsigned long long unknownObjectSize = ~0ULL;

// One release whose objects stay in by-hash/: each object's name and size,
// and the game files it signed, by which a rollback publishes it again
// (none in a record written by an earlier version).
struct KeptRelease {
    unsigned long long serial = 0;
    std::map<std::string, unsigned long long> objects;
    std::vector<ReleaseEntry> files;
};

// Oldest first; the channel line catches a record copied from another channel.
std::string keptReleasesText(const std::vector<KeptRelease>& releases, const std::string& channelPath);
bool parseKeptReleases(const std::string& text, const std::string& channelPath, std::vector<KeptRelease>& releases);

// `found` false when there is none; false, with the reason (naming the
// channel as `shownChannel`), when it cannot be read.
bool readKeptReleases(const std::string& channelPath, const std::string& shownChannel,
                      std::vector<KeptRelease>& releases, bool& found, std::string& failure);
bool writeKeptReleases(const std::string& channelPath, const std::vector<KeptRelease>& releases, std::string& failure);
