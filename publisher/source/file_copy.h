#pragma once

#include "publisher/folder/channel_directory.h"
#include "publisher/source/source_tree.h"

#include <filesystem>
#include <map>
#include <string>
#include <utility>

// The SHA-256 that each file of the channel, by its device and inode, was
// seen to hold during this run: an object that is a hard link to one of
// them is known without reading it again.
using HashedFiles = std::map<std::pair<unsigned long long, unsigned long long>, std::string>;

// The publisher's one way from a file's bytes to what the manifest and the
// signed release list: every digest is taken from the bytes read once.

// What one read of a file gives: its MD5, its SHA-256 when asked for, and its
// size; for a signed release, the chunk index and block sums of a file of
// at least chunkIndexFromBytes (launchers fetch only what they lack).
struct FileDigests {
    bool read = false;
    std::string md5;
    std::string sha256;
    unsigned long long size = 0;
    std::string chunkIndex;  // its bytes; empty when none was made
    std::string blockSums;   // made with the chunk index
    // The channel's copy that holds these bytes, when known (0 otherwise):
    // a name given to that very file holds them too.
    unsigned long long device = 0;
    unsigned long long inode = 0;
    bool linked = false;  // put in the channel through a hard link: no byte was written
};
// Copies `in` to its end into `out`, with the MD5 and SHA-256 of the bytes
// written; `read` false, errno saying why, when a read or write fails.
FileDigests copyDescriptor(int in, int out);
// Reads the open file to its end, hashing every byte; never makes a chunk index.
FileDigests digestsOfDescriptor(int fd, bool withSha256);
// A file of the deployer's release tree (a link there leads to the file to
// publish); `signs` asks for the SHA-256 and the chunk index.
FileDigests digestsOfFile(const std::filesystem::path& file, bool signs);
// A regular file inside the channel, never read through a link.
FileDigests digestsOfFile(const ChannelDirectory& channel, const std::string& path, bool withSha256);

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
