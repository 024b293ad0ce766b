// Built natively and for Windows (run under Wine).
#include "channel/block_sums.h"
#include "channel/chunk_index.h"
#include "digest/sha256.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const ChunkParameters small{1024, 4096, 16384};

std::vector<Chunk> cut(const std::string& bytes, const ChunkParameters& parameters, std::size_t piece,
                       bool withHashes = true)
{
    ChunkCutter cutter(parameters, withHashes);
    std::vector<Chunk> chunks;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        cutter.add(reinterpret_cast<const unsigned char*>(bytes.data()) + at, std::min(piece, bytes.size() - at),
                   chunks);
    cutter.finish(chunks);
    return chunks;
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

std::set<ChunkHash> hashesOf(const std::vector<Chunk>& chunks)
{
    std::set<ChunkHash> hashes;
    for (const Chunk& chunk : chunks)
        hashes.insert(chunk.hash);
    return hashes;
}

TEST(ChunkCutter, CutsAlikeInAnyPiecesAndOnlyAroundAChange)
{
    const std::string original = randomBytes(1 << 20, 1);
    const std::vector<Chunk> whole = cut(original, small, original.size());
    unsigned long long total = 0;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        EXPECT_LE(whole[i].length, small.maxBytes);
        if (i + 1 < whole.size()) {
            EXPECT_GE(whole[i].length, small.minBytes);
        }
        total += whole[i].length;
    }
    EXPECT_EQ(total, original.size());
    EXPECT_NEAR(static_cast<double>(original.size()) / static_cast<double>(whole.size()), small.normalBytes,
                small.normalBytes / 4.0);
    for (const std::size_t piece : {1u, 7u, 4096u, 100000u}) {
        const std::vector<Chunk> pieces = cut(original, small, piece);
        EXPECT_TRUE(hashesOf(pieces) == hashesOf(whole) && pieces.size() == whole.size()) << piece;
        // The launcher's old copy is cut for fingerprints only: the same chunks.
        const std::vector<Chunk> fingerprinted = cut(original, small, piece, false);
        ASSERT_EQ(fingerprinted.size(), whole.size());
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_TRUE(fingerprinted[i].length == whole[i].length &&
                        fingerprinted[i].fingerprint == whole[i].fingerprint)
                << piece << " " << i;
        }
    }

    struct Change {
        const char* name;
        std::string changed;
    };
    std::string overwritten = original;
    overwritten.replace(500000, 3000, randomBytes(3000, 2));
    const Change changes[] = {
        {"inserted", original.substr(0, 500000) + randomBytes(3000, 3) + original.substr(500000)},
        {"overwritten", overwritten},
        {"removed", original.substr(0, 500000) + original.substr(503000)},
        {"appended", original + randomBytes(3000, 4)},
    };
    const std::set<ChunkHash> before = hashesOf(whole);
    for (const Change& change : changes) {
        std::size_t fresh = 0;
        for (const Chunk& chunk : cut(change.changed, small, 65536))
            fresh += before.count(chunk.hash) == 0;
        EXPECT_LE(fresh, 3u) << change.name;
    }
}

TEST(ChunkCutter, RunsOfOneByteAreCutAtTheMaximum)
{
    for (const ChunkParameters& parameters : {small, standardChunkParameters}) {
        for (const int value : {0, 0x20, 0xff}) {
            const std::vector<Chunk> chunks =
                cut(std::string(parameters.maxBytes * 3 + 5, static_cast<char>(value)), parameters, 65536);
            ASSERT_EQ(chunks.size(), 4u) << value;
            EXPECT_EQ(chunks[0].length, parameters.maxBytes);
            EXPECT_EQ(chunks[3].length, 5u);
        }
    }
}

TEST(ChunkIndex, RoundTripsAndRefusesWhatItCannotHaveWritten)
{
    ChunkIndex index;
    index.fileSize = 70005;
    index.fileSha256 = sha256Hex("file");
    index.chunks = cut(randomBytes(70005, 5), standardChunkParameters, 4096);
    const std::string bytes = chunkIndexBytes(index);
    ChunkIndex parsed;
    ASSERT_TRUE(parseChunkIndex(bytes, parsed));
    EXPECT_EQ(chunkIndexBytes(parsed), bytes);
    EXPECT_EQ(parsed.fileSha256, index.fileSha256);

    const auto changed = [&bytes](std::size_t at, unsigned char value) {
        std::string copy = bytes;
        copy[at] = static_cast<char>(value);
        return copy;
    };
    ChunkIndex wider = index;
    wider.parameters.maxBytes = 2 << 20;
    ChunkIndex shortChunk = index;
    shortChunk.chunks.insert(shortChunk.chunks.begin(), Chunk{100, {}});
    shortChunk.fileSize += 100;
    for (const std::string& bad :
         {bytes.substr(0, bytes.size() - 1), bytes + '\0', changed(0, 'o'), changed(8, 2), changed(17, 0x30),
          changed(24, 0x76) /* another size */, changed(64, 9) /* another count */, chunkIndexBytes(wider),
          chunkIndexBytes(shortChunk), std::string(), bytes.substr(0, 72)})
        EXPECT_FALSE(parseChunkIndex(bad, parsed)) << bad.size();
}

// The launcher rolls the weak sum over every offset of its old copy: rolled
// or taken afresh, it must be the publisher's sum of the same bytes.
TEST(BlockSums, RollAsTakenAfreshAndSumAlikeInAnyPieces)
{
    const std::string bytes = randomBytes(3 * blockSumsBlockBytes + 1000, 11);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    RollingBlockSum rolling;
    rolling.reset(data, blockSumsBlockBytes);
    for (std::size_t at = 0;; ++at) {
        ASSERT_EQ(rolling.value(), weakBlockSum(data + at, blockSumsBlockBytes)) << at;
        if (at + blockSumsBlockBytes == bytes.size())
            break;
        rolling.roll(data[at], data[at + blockSumsBlockBytes]);
    }
    const std::string sha256 = sha256Hex(bytes);
    BlockSummer whole;
    whole.add(data, bytes.size());
    const std::string sums = whole.finish(sha256);
    for (const std::size_t piece : {std::size_t(1), std::size_t(4095), std::size_t(5000)}) {
        BlockSummer pieces;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            pieces.add(data + at, std::min(piece, bytes.size() - at));
        EXPECT_EQ(pieces.finish(sha256), sums) << piece;
    }
    ASSERT_EQ(sums.size(), blockSumsObjectBytes(bytes.size()));
    EXPECT_TRUE(blockSumsHeaderFits(sums, bytes.size(), sha256));
    EXPECT_FALSE(blockSumsHeaderFits(sums, bytes.size() + 1, sha256));
    const std::vector<BlockSum> parsed = parseBlockSums(sums.substr(static_cast<std::size_t>(blockSumOffset(3))));
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_TRUE(parsed[0] == blockSumOf(data + 3 * blockSumsBlockBytes, 1000)) << "the last block is shorter";
}

}  // namespace
