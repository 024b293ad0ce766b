#pragma once

#include "channel/chunk_cutter.h"

#include <cstddef>
#include <vector>

// A chunk of the new file that the old copy does not hold.
inline constexpr unsigned long long notHeldLocally = ~0ULL;

// One step of building the new file, in its order: chunks copied from the
// old copy, or one range request for chunks that follow each other.
struct DeltaStep {
    bool fetched = false;
    std::size_t firstChunk = 0;
    std::size_t chunks = 0;
    unsigned long long firstByte = 0;  // in the new file
    unsigned long long bytes = 0;
    // One of the pieces that chunks the old copy lacks are rebuilt from:
    // its bytes, fetched or copied from `oldByte` of the old copy, are
    // checked with the rest of those chunks (firstChunk and chunks give them
    // all) as each one is whole.
    bool piece = false;
    bool firstPiece = false;
    bool lastPiece = false;
    unsigned long long oldByte = 0;
};

// The steps from chunk `fromChunk` (byte `fromByte`) up to `toChunk`, given where
// the old copy holds each chunk (`heldAt`, notHeldLocally when it does not).
// Chunks held locally between two requests are fetched with them when they
// take at most `mergeGapBytes`: one request less for a few bytes more. No
// request covers more than `largestRequestBytes` unless one chunk does.
std::vector<DeltaStep> planDelta(const std::vector<Chunk>& chunks, const std::vector<unsigned long long>& heldAt,
                                 std::size_t fromChunk, unsigned long long fromByte, std::size_t toChunk,
                                 unsigned long long mergeGapBytes, unsigned long long largestRequestBytes);

// The gap that planDelta is given: a quarter of a megabyte costs less than a request's round trip.
inline constexpr unsigned long long deltaMergeGapBytes = 256ULL << 10;
