#pragma once

#include "channel/chunk_cutter.h"
#include "digest/streaming_digests.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Takes a file's MD5 and cuts it into chunks on a thread of its own, piece
// by piece, while the caller takes the SHA-256 of the same piece: the two
// halves cost about the same, so a signed publish that makes a chunk index
// takes no longer than one without, where a second core is free.
class BackgroundCutter {
public:
    explicit BackgroundCutter(const ChunkParameters& parameters);
    BackgroundCutter(const BackgroundCutter&) = delete;
    BackgroundCutter& operator=(const BackgroundCutter&) = delete;
    ~BackgroundCutter();

    // Starts on `data`, which must stay as it is until wait() returns.
    void start(const unsigned char* data, std::size_t size);
    void wait();
    // Once everything was added and waited for: the MD5, and the chunks, the last one included.
    std::string md5Hex() { return md5_.md5Hex(); }
    std::vector<Chunk> finish();

private:
    void run();

    ChunkCutter cutter_;
    StreamingDigests md5_;
    std::vector<Chunk> chunks_;
    std::mutex mutex_;
    std::condition_variable changed_;
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;  // last: started once everything it uses is set up
};
