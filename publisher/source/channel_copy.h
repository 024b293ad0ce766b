#pragma once

#include "publisher/folder/channel_directory.h"
#include "publisher/source/one_read.h"
#include "publisher/source/source_tree.h"

#include <string>

// The step of a source file into the channel: skipped when the channel's
// copy holds its bytes already, else a hard link or a copy.

// The digests of a source file whose copy in the channel holds the same
// bytes (same size, same MD5, and with `signs` the same SHA-256), read from the source; `digests.read` stays
// false when the file must be copied. False when the source cannot be read.
// Here and below, `signs` asks for the SHA-256 and the chunk index too.
// A channel copy read that has other names (an object's) goes into `hashed`.
bool digestsIfAlreadyPublished(const ChannelDirectory& channel, const SourceFile& file, bool signs,
                               FileDigests& digests, HashedFiles& hashed, std::string& failure);

// Copies the source into the channel through a temporary name and a
// rename, hashing the very bytes it writes: the manifest can only state
// what was copied. A source that changes meanwhile (a build still writing
// it) fails the copy and leaves no temporary file.
bool copyIntoChannel(const ChannelDirectory& channel, const SourceFile& file, bool signs, FileDigests& digests,
                     std::string& failure);
