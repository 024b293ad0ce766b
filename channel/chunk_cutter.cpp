#include "channel/chunk_cutter.h"

#include "digest/sha256.h"

#include <algorithm>

namespace {

constexpr std::uint64_t splitMix(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

constexpr unsigned fewestMaskBits = 6;  // log2 of the smallest normal size, less two

// After n equal bytes of value b the hash is G[b] * (2^n - 1); a table entry
// for which that never has its top bits all zero keeps runs of one byte
// (zeros, padding) from being cut anywhere but at the maximum.
constexpr bool neverCutsARun(std::uint64_t entry)
{
    for (unsigned n = 1; n <= 64; ++n) {
        const std::uint64_t run = n == 64 ? ~0ULL : (1ULL << n) - 1;
        if ((entry * run) >> (64 - fewestMaskBits) == 0)
            return false;
    }
    return true;
}

struct GearTable {
    std::uint64_t entries[256] = {};
};

// Fixed for good: both sides must cut alike, so it is part of the index format.
constexpr GearTable makeGearTable()
{
    GearTable table;
    std::uint64_t state = 0x6f726e2d63686b31ULL;
    for (auto& entry : table.entries) {
        do
            entry = splitMix(state);
        while (!neverCutsARun(entry));
    }
    return table;
}

constexpr GearTable gear = makeGearTable();

unsigned log2Of(std::uint32_t power)
{
    unsigned bits = 0;
    while ((1u << bits) < power)
        ++bits;
    return bits;
}

// The top `bits` bits: the ones that depend on all of the last 64 bytes.
std::uint64_t topBits(unsigned bits)
{
    return ~0ULL << (64 - bits);
}

}  // namespace

bool chunkParametersSupported(const ChunkParameters& p)
{
    const bool powerOfTwo = p.normalBytes != 0 && (p.normalBytes & (p.normalBytes - 1)) == 0;
    return powerOfTwo && p.normalBytes >= 256 && p.normalBytes <= (256u << 10) && p.maxBytes <= (1u << 20) &&
           p.minBytes >= 64 && p.minBytes <= p.normalBytes && p.normalBytes <= p.maxBytes && p.minBytes < p.maxBytes &&
           p.maxBytes / 4 <= p.normalBytes;
}

ChunkHash chunkHashOf(const unsigned char* data, std::size_t size)
{
    prepareSodium();
    unsigned char full[crypto_generichash_BYTES_MIN];
    crypto_generichash(full, sizeof full, data, size, nullptr, 0);
    ChunkHash hash;
    std::copy(full, full + hash.size(), hash.begin());
    return hash;
}

std::uint64_t chunkFingerprintOf(const unsigned char* data, std::size_t size)
{
    // Fixed for good, as the gear table: both sides must take the same fingerprints.
    static const unsigned char key[crypto_shorthash_KEYBYTES] = {'o', 'r', 'n', '-', 'c', 'h', 'u', 'n',
                                                                 'k', '-', 'f', 'i', 'n', 'g', 'e', 'r'};
    unsigned char out[crypto_shorthash_BYTES];
    crypto_shorthash(out, data, size, key);
    std::uint64_t fingerprint = 0;
    for (std::size_t i = 0; i < sizeof out; ++i)
        fingerprint |= static_cast<std::uint64_t>(out[i]) << (8 * i);
    return fingerprint;
}

// Normalised chunking: a mask two bits stricter than the normal size before
// it and two bits looser after, so that sizes gather around it.
ChunkCutter::ChunkCutter(const ChunkParameters& parameters, bool withHashes)
    : parameters_(parameters), withHashes_(withHashes), strictMask_(topBits(log2Of(parameters.normalBytes) + 2)),
      looseMask_(topBits(log2Of(parameters.normalBytes) - 2))
{
    prepareSodium();
}

std::size_t ChunkCutter::untilCut(const unsigned char* data, std::size_t size, bool& cut)
{
    cut = false;
    std::size_t at = 0;
    // The first minBytes of a chunk are never looked at: no cut can fall there.
    if (length_ < parameters_.minBytes) {
        const std::size_t skipped = std::min<std::size_t>(size, parameters_.minBytes - length_);
        at = skipped;
        length_ += static_cast<std::uint32_t>(skipped);
        gear_ = 0;
    }
    std::uint64_t hash = gear_;
    std::uint32_t length = length_;
    for (; at < size; ++at) {
        hash = (hash << 1) + gear.entries[data[at]];
        ++length;
        const std::uint64_t mask = length <= parameters_.normalBytes ? strictMask_ : looseMask_;
        if ((hash & mask) == 0 || length == parameters_.maxBytes) {
            cut = true;
            ++at;
            break;
        }
    }
    gear_ = hash;
    length_ = length;
    return at;
}

void ChunkCutter::add(const unsigned char* data, std::size_t size, std::vector<Chunk>& done)
{
    while (size > 0) {
        bool cut = false;
        const std::size_t taken = untilCut(data, size, cut);
        if (!cut) {
            pending_.insert(pending_.end(), data, data + taken);
        } else if (pending_.empty()) {
            endChunk(data, done);  // the whole chunk is in this piece: hashed where it lies
        } else {
            pending_.insert(pending_.end(), data, data + taken);
            endChunk(pending_.data(), done);
        }
        data += taken;
        size -= taken;
    }
}

void ChunkCutter::finish(std::vector<Chunk>& done)
{
    if (length_ > 0)
        endChunk(pending_.data(), done);
}

void ChunkCutter::endChunk(const unsigned char* bytes, std::vector<Chunk>& done)
{
    Chunk chunk;
    chunk.length = length_;
    chunk.fingerprint = chunkFingerprintOf(bytes, length_);
    if (withHashes_)
        chunk.hash = chunkHashOf(bytes, length_);
    done.push_back(chunk);
    pending_.clear();
    length_ = 0;
    gear_ = 0;
}
