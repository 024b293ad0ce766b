#pragma once

#include "channel/chunk_index.h"
#include "launcher/console/console.h"
#include "launcher/download/chunk_writer.h"
#include "launcher/download/delta_plan.h"
#include "launcher/download/fetched_entry.h"
#include "launcher/download/old_copy.h"
#include "launcher/download/step_answer.h"
#include "launcher/http/transport.h"

#include <vector>

// The new file built in its partial file from the planned steps, in their
// order: the copied ones from the old copy, the fetched ones asked for
// together (pipelined where the transport can), each answer taken once the
// steps before it are written. A step's chunks are all written and reach
// the file before the next is taken.
class DeltaBuild {
public:
    DeltaBuild(Transport& transport, const FetchedEntry& entry, const ChunkIndex& index, OldCopy& old,
               ChunkWriter& writer, FileProgress* progress);

    // False when a step could not be built: what was written before it stays, all of it checked.
    bool take(const std::vector<DeltaStep>& steps);

private:
    bool stepDone(const DeltaStep& step);

    Transport& transport_;
    const FetchedEntry& entry_;
    const ChunkIndex& index_;
    OldCopy& old_;
    ChunkWriter& writer_;
    FileProgress* progress_;
    StepAnswer answer_;
};
