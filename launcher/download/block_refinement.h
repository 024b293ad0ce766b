#pragma once

#include "channel/chunk_index.h"
#include "launcher/download/delta_download.h"
#include "launcher/download/delta_plan.h"
#include "launcher/download/old_copy.h"
#include "launcher/http/transport.h"

#include <vector>

// Each fetched step of `steps` that the old copy may hold in part (it
// holds a chunk on one side or both, with room for blocks between) becomes
// pieces: the 4 KiB blocks found in the old copy there, copied, and the
// rest, fetched. The sums of just those steps' blocks are asked for
// together, by range, where the transport pipelines (on a path where each
// request costs a round trip, a few more bytes are cheaper). On any trouble
// with the sums the steps stay as they are: they are hints, and the chunks
// built from them are checked as any others.
std::vector<DeltaStep> refineByBlocks(Transport& transport, const DeltaSource& source, const ChunkIndex& index,
                                      OldCopy& old, std::vector<DeltaStep> steps);
