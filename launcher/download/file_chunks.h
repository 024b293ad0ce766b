#pragma once

#include "channel/chunk_index.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// A chunk's bytes as a scan has them: those that earlier reads gave, then
// those of the current read.
struct ChunkBytes {
    const char* carried;
    std::size_t carriedSize;
    const char* rest;
    std::size_t restSize;
};

// Cuts the bytes of `file` from `from` up to `until` (or its end) with
// `parameters`, handing each chunk to `take` with its offset and bytes; the
// last piece is a chunk too. Reads through one small buffer; a chunk is held
// whole only when it spans reads. Stops when `take` returns false. A read
// error ends the cut as if the file ended there.
void cutFile(platform::FileReader& file, unsigned long long from, unsigned long long until,
             const ChunkParameters& parameters,
             const std::function<bool(const Chunk&, unsigned long long, const ChunkBytes&)>& take);

// Whether a file may share chunks with the new file `index` describes,
// judged from a few windows spread over it: cutting all of a file that
// shares nothing would only make the whole download slower.
bool mayShareChunks(platform::FileReader& file, unsigned long long size, const ChunkIndex& index);

// The chunks of a new file from `fromChunk` on, found by fingerprint and length.
class ChunkLookup {
public:
    ChunkLookup(const std::vector<Chunk>& chunks, std::size_t fromChunk);
    // The indexes of the chunks equal to `chunk`, in no particular order.
    template <typename Each>
    void forEachEqual(const Chunk& chunk, Each each) const
    {
        auto match = std::lower_bound(
            byFingerprint_.begin(), byFingerprint_.end(), chunk.fingerprint,
            [this](std::uint32_t i, std::uint64_t fingerprint) { return chunks_[i].fingerprint < fingerprint; });
        for (; match != byFingerprint_.end() && chunks_[*match].fingerprint == chunk.fingerprint; ++match) {
            if (chunks_[*match].length == chunk.length)
                each(static_cast<std::size_t>(*match));
        }
    }

private:
    const std::vector<Chunk>& chunks_;
    std::vector<std::uint32_t> byFingerprint_;
};
