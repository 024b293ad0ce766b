#pragma once

#include "channel/release.h"
#include "publisher/folder/channel_directory.h"
#include "publisher/source/one_read.h"

#include <set>
#include <string>
#include <vector>

// A signed channel's objects: every published file, md5sums and each chunk
// index kept also as "by-hash/<its SHA-256>", whose bytes never change, so
// that a cache in front of the server may keep them for as long as it likes.

// Gives the published file at `path`, whose bytes `digests` describe, its
// object's name: a hard link to that very file where the file system
// allows, else a copy checked against its SHA-256. An object already there
// is kept when it is that file, or has its size and SHA-256; anything else
// under the name is replaced (through a temporary name and a rename).
bool storeFileObject(const ChannelDirectory& channel, const std::string& path, const FileDigests& digests,
                     std::string& failure);

// Stores `bytes` (md5sums, a chunk index) as an object of its own, never a
// link to another name; one already there with these very bytes is kept.
bool storeBytesObject(const ChannelDirectory& channel, const std::string& bytes, const std::string& sha256,
                      std::string& failure);

// The objects a release names: its files', its indexes' and its md5sums'.
std::set<std::string> objectsNamed(const Release& release);

// Removes the regular files in by-hash/ with an object's name that is not in
// `kept`; leaves everything else there. A file that cannot be removed is a
// warning: it only takes room.
void removeUnkeptObjects(const ChannelDirectory& channel, const std::set<std::string>& kept,
                         std::vector<std::string>& warnings);
