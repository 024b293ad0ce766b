#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Whether this process may run work on threads of its own; where it may
// not, the work runs on the caller's thread.
bool threadsAreSound();

// Work on a run of bytes fed piece by piece (a digest, a cut into chunks),
// done on a thread of its own once the run passes one block, so that it
// costs another core rather than the caller's time. Each block handed over
// is a copy, so the caller goes on with its buffer at once; a few blocks
// are in flight at most, so memory stays flat. The one way the launcher
// and the publisher take several looks at the same bytes in one read.
class BackgroundWork {
public:
    using Consumer = std::function<void(const char* data, std::size_t size)>;

    // `consume` is called with the bytes in the order they were added, on
    // one thread at a time, until finish() returns.
    explicit BackgroundWork(Consumer consume);
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;
    ~BackgroundWork();

    void add(const char* data, std::size_t size);
    // Returns once every byte added has been consumed; nothing may be added afterwards.
    void finish();

private:
    struct Shared {
        Consumer consume;
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::vector<char>> queued;
        std::vector<std::vector<char>> spare;
        bool ending = false;
    };

    void handOver();
    void stopWorker();
    static void consumeQueued(Shared& shared);

    std::unique_ptr<Shared> shared_;
    std::vector<char> filling_;
    std::thread worker_;
};
