#pragma once

#include "channel/chunk_index.h"
#include "launcher/download/chunk_writer.h"
#include "launcher/download/delta_plan.h"
#include "platform/platform.h"

#include <vector>

// The copy of a changed file that the player already has, as a delta reads
// it: through one handle, open from the scan until the new file is built
// (closed before the rename: Windows cannot replace a file that is open),
// and where it holds each of the new file's chunks.
struct OldCopy {
    platform::FileReader reader;
    unsigned long long size = 0;
    std::vector<unsigned long long> heldAt;  // by chunk of the new file; notHeldLocally where it holds none
};

// Writes a step whose bytes the old copy holds: its chunks, each from where
// the old copy holds it, or a piece's bytes from its `oldByte` on. A piece's
// bytes go through the chunks' check: the sums that found them are only hints.
bool copyStep(const DeltaStep& step, OldCopy& old, const ChunkIndex& index, ChunkWriter& writer);
