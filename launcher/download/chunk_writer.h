#pragma once

#include "channel/chunk_index.h"
#include "digest/streaming_digests.h"
#include "launcher/download/fetched_entry.h"
#include "launcher/download/file_chunks.h"

#include <cstddef>
#include <fstream>
#include <string>
#include <vector>

// The partial file of a file built from chunks: it only ever receives the
// new file's chunks, in order, each one known (found in the old copy) or
// checked against its hash, and hashes them for the final check.
class ChunkWriter {
public:
    ChunkWriter(const ChunkIndex& index, const FetchedEntry& entry);

    // Keeps the chunks that a broken download's partial file of this entry
    // still gives, in order, and continues after them (or starts anew), with
    // the record that lets a later start, or the whole download, resume it.
    bool open();

    // The next chunk, whole.
    bool append(const char* data, std::size_t size);
    bool append(const ChunkBytes& bytes);

    // Bytes of a range of chunks up to `endChunk`, as they arrive: each chunk
    // is gathered whole and checked before it is written. False for bytes
    // that are not those chunks. `startRange` before each range.
    void startRange() { received_ = 0; }
    bool receive(const char* data, std::size_t size, std::size_t endChunk);

    // What is written reaches the file before the next request: a kill keeps it.
    bool flush();
    // Closes the file; true when it holds the entry's bytes.
    bool verified();

    std::size_t nextChunk() const { return nextChunk_; }
    unsigned long long written() const { return written_; }
    bool good() const { return static_cast<bool>(file_); }

private:
    void keepVerifiedPrefix();
    bool write(const char* data, std::size_t size);

    const ChunkIndex& index_;
    const FetchedEntry& entry_;
    std::ofstream file_;
    StreamingDigests digests_;
    std::size_t nextChunk_ = 0;       // the first chunk not yet in the file
    unsigned long long written_ = 0;  // its bytes
    std::vector<char> chunk_;         // one chunk being read or received
    std::size_t received_ = 0;        // of that chunk
};
