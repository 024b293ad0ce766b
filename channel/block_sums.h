#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The sums of a published file's 4 KiB blocks, which let a launcher find,
// inside a chunk the old copy lacks, the blocks it still holds (a small edit
// changes a whole chunk but only a block or two). A launcher fetches, by
// range, just the sums of the chunks it lacks, so it cannot check them
// against their signed SHA-256: they are hints, and every chunk built from
// them is checked against its hash in the chunk index. All numbers
// little-endian:
//   "ORNBLOCK"  u32 format (1)  u32 block size  u64 file size  32 bytes file SHA-256
//   per block of the file, in order: u32 weak sum, u64 strong sum
// A launcher that meets another format or block size ignores the sums.
inline constexpr std::uint32_t blockSumsBlockBytes = 4096;
inline constexpr std::size_t blockSumsHeaderBytes = 8 + 4 + 4 + 8 + 32;
inline constexpr std::size_t blockSumBytes = 4 + 8;
// Beside a file's chunk index, under the same rule: a name no game file may have.
inline constexpr const char* blockSumsEntrySuffix = ".orn-blocks";

struct BlockSum {
    std::uint32_t weak = 0;
    std::uint64_t strong = 0;
    bool operator==(const BlockSum& other) const { return weak == other.weak && strong == other.strong; }
};

// The weak sum rolls (the two 16-bit sums of rsync's): moving the window
// one byte on costs a few additions, which a search at every offset needs.
class RollingBlockSum {
public:
    // Starts over on a whole window.
    void reset(const unsigned char* data, std::size_t size);
    // Moves the window one byte on: `out` leaves it, `in` enters it.
    void roll(unsigned char out, unsigned char in)
    {
        a_ = static_cast<std::uint16_t>(a_ - out + in);
        b_ = static_cast<std::uint16_t>(b_ - size_ * out + a_);
    }
    std::uint32_t value() const { return static_cast<std::uint32_t>(a_) | static_cast<std::uint32_t>(b_) << 16; }

private:
    std::uint16_t a_ = 0;
    std::uint16_t b_ = 0;
    std::uint16_t size_ = 0;  // the window, modulo 2^16 as the sums
};

std::uint32_t weakBlockSum(const unsigned char* data, std::size_t size);
BlockSum blockSumOf(const unsigned char* data, std::size_t size);

// Sums the blocks of bytes fed piece by piece, in any pieces.
class BlockSummer {
public:
    void add(const unsigned char* data, std::size_t size);
    // The whole object, once every byte was added.
    std::string finish(const std::string& fileSha256);

private:
    std::vector<BlockSum> sums_;
    std::vector<unsigned char> pending_;  // the current block's bytes
    unsigned long long size_ = 0;
};

// The blocks of a file of `fileSize` bytes, the last one shorter, and where the sum of block `block` starts.
unsigned long long blockCountOf(unsigned long long fileSize);
inline unsigned long long blockSumOffset(unsigned long long block)
{
    return blockSumsHeaderBytes + block * blockSumBytes;
}
inline unsigned long long blockSumsObjectBytes(unsigned long long fileSize)
{
    return blockSumOffset(blockCountOf(fileSize));
}

// Whether `header` starts block sums of this format for the file of this size and SHA-256.
bool blockSumsHeaderFits(const std::string& header, unsigned long long fileSize, const std::string& fileSha256);
// The sums in `bytes`, whole entries only.
std::vector<BlockSum> parseBlockSums(const std::string& bytes);
