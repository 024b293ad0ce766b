#pragma once

#include "channel/chunk_cutter.h"

#include <cstddef>
#include <vector>

// A chunk of the new file that the old copy does not hold.
inline constexpr unsigned long long notHeldLocally = ~0ULL;

// Where a step's bytes come from.
enum class StepSource {
    heldChunks,  // the old copy: each of the step's chunks where it holds it
    oldBytes,    // the old copy's bytes from the step's `oldByte` on, where the block sums found them
    server,      // one range request
};

// What a step gives of its chunks. A fetched step that the old copy holds in
// part becomes pieces, each fetched or copied: its chunks are gathered
// across them and each is checked as soon as it is whole, so only the first
// piece starts them and only the last one ends them.
enum class StepPart {
    wholeChunks,
    firstPiece,
    middlePiece,
    lastPiece,
    onlyPiece,  // one piece gives them all
};

inline bool startsChunks(StepPart part)
{
    return part == StepPart::wholeChunks || part == StepPart::firstPiece || part == StepPart::onlyPiece;
}

inline bool endsChunks(StepPart part)
{
    return part == StepPart::wholeChunks || part == StepPart::lastPiece || part == StepPart::onlyPiece;
}

// One step of building the new file, in its order: chunks copied from the
// old copy, or one range request for chunks that follow each other, or one
// piece of those chunks (firstChunk and chunks give them all).
struct DeltaStep {
    StepSource source = StepSource::server;
    std::size_t firstChunk = 0;
    std::size_t chunks = 0;
    unsigned long long firstByte = 0;  // in the new file
    unsigned long long bytes = 0;
    StepPart part = StepPart::wholeChunks;
    unsigned long long oldByte = 0;  // with StepSource::oldBytes

    bool fetched() const { return source == StepSource::server; }
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
