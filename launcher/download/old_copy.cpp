#include "launcher/download/old_copy.h"

#include <algorithm>

namespace {

bool copyChunks(const DeltaStep& step, OldCopy& old, const ChunkIndex& index, ChunkWriter& writer)
{
    std::vector<char> bytes;
    for (std::size_t i = step.firstChunk; i < step.firstChunk + step.chunks; ++i) {
        bytes.resize(index.chunks[i].length);
        if (!old.reader.readAt(old.heldAt[i], bytes.data(), bytes.size()) || !writer.append(bytes.data(), bytes.size()))
            return false;
    }
    return true;
}

bool copyPiece(const DeltaStep& step, OldCopy& old, ChunkWriter& writer)
{
    if (startsChunks(step.part))
        writer.startRange();
    std::vector<char> bytes(static_cast<std::size_t>(std::min<unsigned long long>(step.bytes, 1u << 16)));
    for (unsigned long long done = 0; done < step.bytes;) {
        const std::size_t size =
            static_cast<std::size_t>(std::min<unsigned long long>(bytes.size(), step.bytes - done));
        if (!old.reader.readAt(step.oldByte + done, bytes.data(), size) ||
            !writer.receive(bytes.data(), size, step.firstChunk + step.chunks))
            return false;
        done += size;
    }
    return true;
}

}  // namespace

bool copyStep(const DeltaStep& step, OldCopy& old, const ChunkIndex& index, ChunkWriter& writer)
{
    return step.source == StepSource::oldBytes ? copyPiece(step, old, writer) : copyChunks(step, old, index, writer);
}
