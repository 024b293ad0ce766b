#pragma once

#include "channel/chunk_index.h"
#include "launcher/console/console.h"
#include "launcher/download/chunk_writer.h"
#include "launcher/platform/platform.h"

#include <cstddef>
#include <functional>
#include <vector>

// Cuts the old copy with the index's parameters and notes in `heldAt` where
// it holds each chunk still missing (notHeldLocally for the others). Its
// chunks that are the new file's next ones go straight to `writer`, so that
// the common updates (a part changed, inserted or appended) read the old
// copy once and build the new file while it is read; after a change, a
// chunk a little further on (within `pieceBytes`) that only this chunk
// equals is reached by `catchUpTo` it first. False when the old copy cannot
// be read, or `catchUpTo` or a write fails.
// The scan's progress goes to `progress`, when given.
bool scanOldCopy(platform::FileReader& old, unsigned long long oldSize, const ChunkIndex& index,
                 unsigned long long pieceBytes, ChunkWriter& writer, std::vector<unsigned long long>& heldAt,
                 const std::function<bool(std::size_t chunk)>& catchUpTo, FileProgress* progress);
