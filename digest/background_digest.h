#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A digest being taken of a run of bytes fed piece by piece.
class RunningDigest {
public:
    virtual ~RunningDigest() = default;
    virtual void update(const char* data, std::size_t size) = 0;
    // Lowercase hex; the object is spent afterwards.
    virtual std::string hexDigest() = 0;
};

// A digest taken on a thread of its own once a run of bytes passes one
// block, so that hashing costs another core rather than the caller's time
// (the MD5 and SHA-256 of a download, a delta or a signed publish each take
// longer than reading the bytes). Each block handed over is a copy; a few
// are in flight at most.
class BackgroundDigest {
public:
    explicit BackgroundDigest(std::unique_ptr<RunningDigest> digest);
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;
    ~BackgroundDigest();

    void update(const char* data, std::size_t size);
    // Lowercase hex; the object is spent afterwards.
    std::string hexDigest();

private:
    struct Shared {
        std::unique_ptr<RunningDigest> digest;
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::vector<char>> queued;
        std::vector<std::vector<char>> spare;
        bool ending = false;
    };

    void handOver();
    static void hashQueued(Shared& shared);

    std::unique_ptr<Shared> shared_;
    std::vector<char> filling_;
    std::thread worker_;
};
