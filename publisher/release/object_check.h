#pragma once

#include "channel/release.h"
#include "publisher/folder/channel_directory.h"
#include "publisher/source/one_read.h"
#include "publisher/state/kept_releases_record.h"

#include <string>

enum class ObjectState { whole, missing, damaged };

// Whether by-hash/<name> is a regular file of `size` bytes holding the
// SHA-256 it is named by; the size first: a planted sparse file of
// terabytes would be hashed for hours. A file not in `hashed` is read (and
// added); with `sharedOnly`, only when it has other names: a file with one
// name is written only by us, through a rename, and a hard link is how a
// write onto a published file in place reaches an object.
ObjectState checkObject(const ChannelDirectory& channel, const std::string& name, unsigned long long size,
                        HashedFiles& hashed, bool sharedOnly = false);

// Before `path` is removed: when it shares its bytes with an object, what
// they are now, so that an object written through it in place is still seen.
void hashIfShared(const ChannelDirectory& channel, const std::string& path, HashedFiles& hashed);

// Every object `release` names is whole; otherwise the first that is not, in `failure`.
bool releaseObjectsWhole(const ChannelDirectory& channel, const Release& release, HashedFiles& hashed,
                         std::string& failure);
