#pragma once

#include "channel/chunk_cutter.h"

#include <string>
#include <vector>

// The chunk index of one published file: the parameters it was cut with,
// the file it describes, and each chunk's length and hash in file order.
// Published only under a signed release, which gives the index's own
// SHA-256 and size. All numbers little-endian:
//   "ORNCHUNK"  u32 format (1)  u32 min  u32 normal  u32 max
//   u64 file size  32 bytes file SHA-256  u64 chunk count
//   per chunk: u32 length, u64 fingerprint, 12 bytes hash
struct ChunkIndex {
    ChunkParameters parameters = standardChunkParameters;
    unsigned long long fileSize = 0;
    std::string fileSha256;  // lowercase hex
    std::vector<Chunk> chunks;
};

// Files this large get an index; below it a whole download costs little.
inline constexpr unsigned long long chunkIndexFromBytes = 1ULL << 20;
// The most a launcher reads of an index (a 4 GiB file of the smallest chunks
// takes 5 MiB): it stays within its memory bound whatever the server says.
inline constexpr unsigned long long largestChunkIndexBytes = 6ULL << 20;
// A signed release gives an index as the "file" line of the game file's
// path with this suffix (a name no game file may have): launchers that
// know no index ignore a file line that the manifest does not list.
inline constexpr const char* chunkIndexEntrySuffix = ".orn-chunks";

std::string chunkIndexBytes(const ChunkIndex& index);
// False for anything chunkIndexBytes cannot have written from a supported
// cut: other parameters, lengths that do not add up to the file's size, a
// chunk shorter than the minimum before the last, bytes left over.
bool parseChunkIndex(const std::string& bytes, ChunkIndex& index);
