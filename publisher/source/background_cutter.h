#pragma once

#include "channel/chunk_cutter.h"
#include "digest/background_work.h"
#include "digest/streaming_digests.h"

#include <cstddef>
#include <string>
#include <vector>

// Takes a file's MD5 and cuts it into chunks in the background, piece by
// piece, while the caller takes the SHA-256 of the same piece: the two
// halves cost about the same, so a signed publish that makes a chunk index
// takes no longer than one without, where a second core is free.
class BackgroundCutter {
public:
    explicit BackgroundCutter(const ChunkParameters& parameters);

    void add(const char* data, std::size_t size) { work_.add(data, size); }
    // Once everything was added: the MD5, and the chunks, the last one included.
    std::string md5Hex();
    std::vector<Chunk> finish();

private:
    ChunkCutter cutter_;
    StreamingDigests md5_;
    std::vector<Chunk> chunks_;
    BackgroundWork work_;  // last: it feeds the others until it ends
};
