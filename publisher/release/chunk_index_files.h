#pragma once

#include "channel/release.h"
#include "publisher/folder/channel_directory.h"

#include <set>
#include <string>
#include <vector>

// The chunk indexes and block sums of a signed channel, kept in its
// by-hash/ folder under their own SHA-256, which the release's
// "<path>.orn-chunks" and "<path>.orn-blocks" file lines give.

// Whether a release's file line gives a chunk index (or, with the other,
// block sums) rather than a game file: the manifest does not list its path,
// and the path has the suffix.
bool isChunkIndexEntry(const ReleaseEntry& entry, const std::set<std::string>& manifestPaths);
bool isDeltaEntry(const ReleaseEntry& entry, const std::set<std::string>& manifestPaths);
// How many of a release's entries are chunk indexes.
std::size_t chunkIndexEntries(const Release& release);
// The release's game files, in its order: neither a chunk index, nor block
// sums, nor the line that marks the channel content-addressed, nor a rollout's.
std::vector<ReleaseEntry> gameFileEntries(const Release& release);

// Puts `bytes`, the chunk index of the game file at `path`, into by-hash/
// (through a temporary name and a rename; one already there with these
// very bytes is kept), and gives its release line. False, with the
// reason, when it cannot be written.
bool storeChunkIndex(const ChannelDirectory& channel, const std::string& path, const std::string& bytes,
                     ReleaseEntry& entry, std::string& failure);
// The same for the file's block sums.
bool storeBlockSums(const ChannelDirectory& channel, const std::string& path, const std::string& bytes,
                    ReleaseEntry& entry, std::string& failure);
