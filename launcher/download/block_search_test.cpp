// Where the old copy's bytes hold a new file's blocks, whatever the offset.
#include "launcher/download/block_search.h"

#include "launcher/download/delta_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace {

const std::size_t block = blockSumsBlockBytes;

std::vector<unsigned char> randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(size);
    for (unsigned char& byte : bytes)
        byte = static_cast<unsigned char>(random());
    return bytes;
}

std::vector<BlockSum> sumsOf(const std::vector<unsigned char>& bytes)
{
    std::vector<BlockSum> sums;
    for (std::size_t at = 0; at < bytes.size(); at += block)
        sums.push_back(blockSumOf(bytes.data() + at, std::min(block, bytes.size() - at)));
    return sums;
}

TEST(BlockSearch, FindsBlocksAtAnyOffsetAndOnlyThoseWholeInTheRegion)
{
    const std::vector<unsigned char> wanted = randomBytes(4 * block + 100, 1);  // the last block short
    std::vector<unsigned char> shifted = randomBytes(1000, 2);                  // blocks 0-2 after 1000 bytes
    shifted.insert(shifted.end(), wanted.begin(), wanted.begin() + 3 * block);
    shifted[1000 + block + 5] ^= 1;  // block 1 changed
    const std::vector<unsigned char> whole(wanted.begin(), wanted.end());
    const auto held = notHeldLocally;
    struct Case {
        const char* name;
        std::vector<unsigned char> region;
        std::size_t fullBlocks;
        std::vector<unsigned long long> found;  // from a region at 10,000
    };
    const Case cases[] = {
        {"shifted, one changed", shifted, 4, {11000, held, 11000 + 2 * block, held, held}},
        {"in place, the short block not searched",
         whole,
         4,
         {10000, 10000 + block, 10000 + 2 * block, 10000 + 3 * block, held}},
        {"fewer searched", whole, 2, {10000, 10000 + block, held, held, held}},
        {"a region shorter than a block",
         std::vector<unsigned char>(wanted.begin(), wanted.begin() + block - 1),
         4,
         {held, held, held, held, held}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(findBlocks(sumsOf(wanted), c.fullBlocks, c.region, 10000), c.found);
    }
}

// Sums whose weak half matches at every offset of the region and whose strong
// half never does: without a bound, a strong sum of 4 KiB at each of 4 Mi
// offsets (minutes); with it, a few per block.
TEST(BlockSearch, SumsMadeToMatchEverywhereCostAFewStrongSumsPerBlock)
{
    const std::vector<unsigned char> zeros(4 << 20, 0);
    const BlockSum zeroBlock = blockSumOf(zeros.data(), block);
    const std::vector<BlockSum> hostile(500, BlockSum{zeroBlock.weak, zeroBlock.strong + 1});
    const std::vector<unsigned long long> found = findBlocks(hostile, hostile.size(), zeros, 0);
    EXPECT_EQ(std::count(found.begin(), found.end(), notHeldLocally), 500);
}

}  // namespace
