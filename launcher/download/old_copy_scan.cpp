#include "launcher/download/old_copy_scan.h"

#include "launcher/download/delta_plan.h"
#include "launcher/download/file_chunks.h"

namespace {

const unsigned long long endOfFile = ~0ULL;

// Whether `chunk` lies close enough after `next` to catch up with it in one request.
bool isNear(const std::vector<Chunk>& chunks, std::size_t next, std::size_t chunk, unsigned long long pieceBytes)
{
    unsigned long long between = 0;
    for (std::size_t i = next; i < chunk && between <= pieceBytes; ++i)
        between += chunks[i].length;
    return between <= pieceBytes;
}

}  // namespace

bool scanOldCopy(platform::FileReader& old, unsigned long long oldSize, const ChunkIndex& index,
                 unsigned long long pieceBytes, ChunkWriter& writer, std::vector<unsigned long long>& heldAt,
                 const std::function<bool(std::size_t chunk)>& catchUpTo, FileProgress* progress)
{
    const std::vector<Chunk>& chunks = index.chunks;
    heldAt.assign(chunks.size(), notHeldLocally);
    const ChunkLookup lookup(chunks, writer.nextChunk());
    bool troubled = false;
    cutFile(old, 0, endOfFile, index.parameters, [&](const Chunk& found, unsigned long long at, const ChunkBytes& bytes) {
        if (writer.nextChunk() == chunks.size())
            return false;  // the new file is whole: the rest of the old copy is not needed
        if (progress != nullptr)
            progress->scanning(at + found.length, oldSize);
        std::size_t next = chunks.size();
        std::size_t equal = 0;
        lookup.forEachEqual(found, [&](std::size_t i) {
            ++equal;
            next = i >= writer.nextChunk() && i < next ? i : next;
        });
        // The new file's next chunk; or, after a change, one a little further
        // on that only this chunk equals: the ones between are caught up now.
        if (next < chunks.size() &&
            (next == writer.nextChunk() || (equal == 1 && isNear(chunks, writer.nextChunk(), next, pieceBytes)))) {
            if (next > writer.nextChunk() && !catchUpTo(next)) {
                troubled = true;
                return false;
            }
            writer.append(bytes);
        }
        lookup.forEachEqual(found, [&](std::size_t i) {
            if (i >= writer.nextChunk() && heldAt[i] == notHeldLocally)
                heldAt[i] = at;
        });
        return writer.good();
    });
    return !troubled && writer.good();
}
