#include "launcher/download/old_copy_scan.h"

#include "launcher/download/delta_plan.h"
#include "launcher/download/file_chunks.h"

namespace {

const unsigned long long endOfFile = ~0ULL;

}  // namespace

bool scanOldCopy(OldCopy& old, const ChunkIndex& index, ChunkWriter& writer, FileProgress* progress)
{
    const std::vector<Chunk>& chunks = index.chunks;
    std::vector<unsigned long long>& heldAt = old.heldAt;
    heldAt.assign(chunks.size(), notHeldLocally);
    const ChunkLookup lookup(chunks, writer.nextChunk());
    bool streaming = true;  // until the first chunk the old copy lacks
    const auto take = [&](const Chunk& found, unsigned long long at, const ChunkBytes& bytes) {
        if (writer.nextChunk() == chunks.size())
            return false;  // the new file is whole: the rest of the old copy is not needed
        if (progress != nullptr)
            progress->scanning(at + found.length, old.size);
        bool isNext = false;
        lookup.forEachEqual(found, [&](std::size_t i) { isNext = isNext || i == writer.nextChunk(); });
        if (streaming && isNext) {
            heldAt[writer.nextChunk()] = at;  // where the chunks after it may be found
            if (!writer.append(bytes))
                return false;
        } else {
            streaming = false;
        }
        lookup.forEachEqual(found, [&](std::size_t i) {
            if (i >= writer.nextChunk() && heldAt[i] == notHeldLocally)
                heldAt[i] = at;
        });
        return true;
    };
    cutFile(old.reader, 0, endOfFile, index.parameters, take);
    return writer.good();
}
