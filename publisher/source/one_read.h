#pragma once

#include "publisher/source/copy_progress.h"

#include <cstddef>
#include <map>
#include <string>
#include <utility>

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

// The SHA-256 that each file of the channel, by its device and inode, was
// seen to hold during this run: an object that is a hard link to one of
// them is known without reading it again.
using HashedFiles = std::map<std::pair<unsigned long long, unsigned long long>, std::string>;

// Reads the open file `fd` to its end, hashing every byte; `read` false,
// errno saying why, when a read fails. With `signs` the SHA-256 too, and the
// chunk index and block sums when `expectedSize`, the size seen before the
// read, is large enough.
FileDigests readWhole(int fd, bool signs, unsigned long long expectedSize);
// Reads the open file to its end, hashing every byte; never makes a chunk index.
FileDigests digestsOfDescriptor(int fd, bool withSha256);
// Copies `in` to its end into `out`, with the MD5 and SHA-256 of the bytes
// written; `read` false, errno saying why, when a read or write fails.
FileDigests copyDescriptor(int in, int out);
// Copies `in` to its end into `out` as one read of it, `progress` told of
// every piece written; false, errno saying why, when a read or write fails.
// `digests` then holds what the bytes written gave.
bool copyWhole(int in, int out, bool signs, unsigned long long expectedSize, CopyProgress& progress,
               FileDigests& digests);
