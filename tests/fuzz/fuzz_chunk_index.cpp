// The chunk index's parser over arbitrary bytes: what the server sends for an index.
#include "channel/chunk_index.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    ChunkIndex index;
    if (!parseChunkIndex(bytes, index))
        return 0;
    // Whatever parses is in the one form the publisher writes, and its chunks tile the file.
    FUZZ_CHECK(chunkIndexBytes(index) == bytes);
    FUZZ_CHECK(chunkParametersSupported(index.parameters));
    unsigned long long total = 0;
    for (const Chunk& chunk : index.chunks) {
        FUZZ_CHECK(chunk.length > 0 && chunk.length <= index.parameters.maxBytes);
        total += chunk.length;
    }
    FUZZ_CHECK(total == index.fileSize);
    return 0;
}
