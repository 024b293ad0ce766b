#pragma once

#include "channel/sha256.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A SHA-256 taken on a thread of its own once a run of bytes passes one
// block, so that it costs a second core rather than the caller's time (it is
// the dearest step of a signed download, a delta and a signed publish).
// Each block handed over is a copy; a few are in flight at most.
class BackgroundSha256 {
public:
    BackgroundSha256() = default;
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;
    ~BackgroundSha256();

    void update(const char* data, std::size_t size);
    // Lowercase hex; the object is spent afterwards.
    std::string hexDigest();

private:
    struct Shared {
        Sha256 sha;
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::vector<char>> queued;
        std::vector<std::vector<char>> spare;
        bool ending = false;
    };

    void handOver();
    static void hashQueued(Shared& shared);

    std::unique_ptr<Shared> shared_ = std::make_unique<Shared>();
    std::vector<char> filling_;
    std::thread worker_;
};
