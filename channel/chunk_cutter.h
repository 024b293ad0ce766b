#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Content-defined chunks: a cut falls where the bytes just before it say
// so (a gear rolling hash over the last 64 bytes), not at fixed offsets,
// so that bytes inserted into a file move only the chunks around them.
// Both sides must cut with the same parameters: the publisher writes them
// into the chunk index, and the launcher cuts its old copy with them.
struct ChunkParameters {
    std::uint32_t minBytes = 0;     // no cut before this many bytes, except at the end of the file
    std::uint32_t normalBytes = 0;  // the size chunks gather around: a power of two
    std::uint32_t maxBytes = 0;     // always a cut here

    bool operator==(const ChunkParameters& other) const
    {
        return minBytes == other.minBytes && normalBytes == other.normalBytes && maxBytes == other.maxBytes;
    }
};

// What the publisher writes: 16 KiB, 64 KiB on average, 256 KiB at most.
inline constexpr ChunkParameters standardChunkParameters{16u << 10, 64u << 10, 256u << 10};

// What a cutter (and so a launcher reading an index) takes: a power-of-two
// normal size from 256 bytes to 256 KiB, 64 <= min <= normal <= max <= 4 * normal,
// min < max, and chunks of at most 1 MiB (the launcher holds one whole).
bool chunkParametersSupported(const ChunkParameters& parameters);

// A chunk is named twice. Its fingerprint (SipHash-2-4, 64 bits, a fixed
// key) finds it quickly among an old copy's chunks: it costs a fifth of a
// strong hash, and a wrong match only costs the whole file's SHA-256 check
// and a whole download. Its hash (the first 96 bits of its BLAKE2b) checks
// each fetched chunk before it is written.
inline constexpr std::size_t chunkHashBytes = 12;
using ChunkHash = std::array<unsigned char, chunkHashBytes>;
ChunkHash chunkHashOf(const unsigned char* data, std::size_t size);
std::uint64_t chunkFingerprintOf(const unsigned char* data, std::size_t size);

struct Chunk {
    std::uint32_t length = 0;
    std::uint64_t fingerprint = 0;
    ChunkHash hash{};  // left empty by a cutter that takes fingerprints only
};

// Cuts a run of bytes fed piece by piece, in any pieces, into the same chunks.
class ChunkCutter {
public:
    // `withHashes`: each chunk's hash too (the publisher); else its fingerprint only (the launcher's old copy).
    ChunkCutter(const ChunkParameters& parameters, bool withHashes);

    // Cuts `data` on from the current chunk; appends each chunk that ends inside it.
    void add(const unsigned char* data, std::size_t size, std::vector<Chunk>& done);
    // Appends the last chunk, when bytes are left over.
    void finish(std::vector<Chunk>& done);

private:
    // How many bytes of `data` belong to the current chunk, up to and including a cut.
    std::size_t untilCut(const unsigned char* data, std::size_t size, bool& cut);
    void endChunk(const unsigned char* bytes, std::vector<Chunk>& done);

    ChunkParameters parameters_;
    bool withHashes_;
    std::uint64_t strictMask_;
    std::uint64_t looseMask_;
    std::uint64_t gear_ = 0;
    std::uint32_t length_ = 0;
    std::vector<unsigned char> pending_;  // the current chunk's bytes from earlier pieces
};
