#include "launcher/download/file_chunks.h"

#include <algorithm>

namespace {

const std::size_t readBytes = 256u << 10;
// A file is judged from this many windows of this size before it is cut whole.
const unsigned long long sampledWindows = 16;
const unsigned long long sampleWindowBytes = 1ULL << 20;

}  // namespace

void cutFile(platform::FileReader& file, unsigned long long from, unsigned long long until,
             const ChunkParameters& parameters,
             const std::function<bool(const Chunk&, unsigned long long, const ChunkBytes&)>& take)
{
    ChunkCutter cutter(parameters, false);  // fingerprints only: a strong hash of every byte would double the cost
    std::vector<Chunk> cut;
    std::vector<char> buffer(readBytes);
    std::vector<char> carried;  // the bytes of the chunk being cut that earlier reads gave
    unsigned long long readTo = from;
    unsigned long long chunkAt = from;
    for (bool ended = false; !ended;) {
        const unsigned long long wanted = std::min<unsigned long long>(buffer.size(), until - readTo);
        const long long count =
            wanted == 0 ? 0 : file.readSomeAt(readTo, buffer.data(), static_cast<std::size_t>(wanted));
        ended = count <= 0;
        const std::size_t size = ended ? 0 : static_cast<std::size_t>(count);
        if (ended)
            cutter.finish(cut);
        else
            cutter.add(reinterpret_cast<const unsigned char*>(buffer.data()), size, cut);
        std::size_t used = 0;
        for (const Chunk& found : cut) {
            const std::size_t restSize = found.length - carried.size();
            if (!take(found, chunkAt, {carried.data(), carried.size(), buffer.data() + used, restSize}))
                return;
            used += restSize;
            chunkAt += found.length;
            carried.clear();
        }
        cut.clear();
        carried.insert(carried.end(), buffer.data() + used, buffer.data() + size);
        readTo += size;
    }
}

ChunkLookup::ChunkLookup(const std::vector<Chunk>& chunks, std::size_t fromChunk) : chunks_(chunks)
{
    for (std::size_t i = fromChunk; i < chunks.size(); ++i)
        byFingerprint_.push_back(static_cast<std::uint32_t>(i));
    std::sort(byFingerprint_.begin(), byFingerprint_.end(),
              [&chunks](std::uint32_t a, std::uint32_t b) { return chunks[a].fingerprint < chunks[b].fingerprint; });
}

bool mayShareChunks(platform::FileReader& file, unsigned long long size, const ChunkIndex& index)
{
    if (size <= sampledWindows * sampleWindowBytes * 4)
        return true;
    const ChunkLookup lookup(index.chunks, 0);
    bool shares = false;
    for (unsigned long long window = 0; window < sampledWindows && !shares; ++window) {
        const unsigned long long from = size / sampledWindows * window;
        cutFile(file, from, from + sampleWindowBytes, index.parameters,
                [&](const Chunk& found, unsigned long long, const ChunkBytes&) {
                    lookup.forEachEqual(found, [&shares](std::size_t) { shares = true; });
                    return !shares;
                });
    }
    return shares;
}
