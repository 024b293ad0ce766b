#include "launcher/download/old_copy_scan.h"

#include "launcher/download/delta_plan.h"
#include "launcher/download/file_chunks.h"

namespace {

const unsigned long long endOfFile = ~0ULL;

}  // namespace

bool scanOldCopy(OldCopy& old, const ChunkIndex& index, ChunkWriter& writer, FileProgress* progress,
                 const LackedChunks& lacked)
{
    const std::vector<Chunk>& chunks = index.chunks;
    std::vector<unsigned long long>& heldAt = old.heldAt;
    heldAt.assign(chunks.size(), notHeldLocally);
    const ChunkLookup lookup(chunks, writer.nextChunk());
    bool streaming = true;    // until the first chunk the old copy lacks
    std::size_t inOrder = 0;  // after it, the chunk the old copy most likely holds next
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
        } else if (streaming) {
            streaming = false;
            inOrder = writer.nextChunk();
        }
        std::size_t nearest = chunks.size();  // the first chunk from inOrder on that this one is
        lookup.forEachEqual(found, [&](std::size_t i) {
            if (i >= writer.nextChunk() && heldAt[i] == notHeldLocally)
                heldAt[i] = at;
            nearest = i >= inOrder && i < nearest ? i : nearest;
        });
        if (!streaming && nearest < chunks.size()) {
            if (nearest > inOrder && lacked)
                lacked(inOrder, nearest);
            inOrder = nearest + 1;
        }
        return true;
    };
    cutFile(old.reader, 0, endOfFile, index.parameters, take);
    return writer.good();
}
