#pragma once

#include "channel/chunk_index.h"
#include "launcher/console/console.h"
#include "launcher/download/chunk_writer.h"
#include "launcher/download/old_copy.h"

#include <cstddef>
#include <functional>

// Cuts the old copy with the index's parameters. While its chunks are the
// new file's next ones they go straight to `writer` (a file changed at its
// end, or not at all, is built as the old copy is read); from the first
// chunk it lacks on, its `heldAt` notes where it holds each chunk still
// missing (notHeldLocally for the others), for the rest to be built after
// the scan. Chunks that it passes without finding them, neither streaming
// nor in order after the last one found, go to `lacked` (first, end) as
// soon as it is past them, for their requests to start while the scan goes
// on. The scan's progress goes to `progress`, when given. False when a
// write fails.
using LackedChunks = std::function<void(std::size_t first, std::size_t end)>;
bool scanOldCopy(OldCopy& old, const ChunkIndex& index, ChunkWriter& writer, FileProgress* progress,
                 const LackedChunks& lacked = {});
