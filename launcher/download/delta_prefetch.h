#pragma once

#include "channel/chunk_index.h"
#include "launcher/download/delta_download.h"
#include "launcher/download/delta_plan.h"
#include "launcher/download/old_copy.h"
#include "launcher/download/range_cache.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// While the old copy is still being read, asks for what the delta will
// most likely need: for each run of chunks the scan has passed without
// finding, the block sums around it, then the ranges the sums leave to
// fetch, on a thread of its own through `cache`, which keeps the answers
// for the steps after the scan. Only ever a head start: the steps check
// what they take as before, and ask for whatever was not kept. Bounded in
// the bytes it asks for; nothing while the transport asks one at a time or
// where the process runs no threads.
class DeltaPrefetch {
public:
    DeltaPrefetch(RangeCache& cache, const std::string& uri, const DeltaSource& source, const ChunkIndex& index,
                  unsigned long long oldSize);
    DeltaPrefetch(const DeltaPrefetch&) = delete;
    DeltaPrefetch& operator=(const DeltaPrefetch&) = delete;
    ~DeltaPrefetch() { finish(); }
    static bool worthIt(const Transport& transport);

    // Chunks first..end-1 of the new file, behind the scan, not found in
    // order; `heldAt` as the scan has it, for the chunks around them.
    void lacks(std::size_t first, std::size_t end, const std::vector<unsigned long long>& heldAt);
    // Returns once all that was posted has been asked for; `cache` is the caller's again.
    void finish();

private:
    struct Lack {
        DeltaStep step;
        unsigned long long leftAt;
        unsigned long long rightAt;
    };

    void post(const Lack& lack);
    void work();
    void prefetch(const std::vector<Lack>& lacks);

    RangeCache& cache_;
    const std::string& uri_;
    const DeltaSource& source_;
    const ChunkIndex& index_;
    std::vector<unsigned long long> chunkStart_;  // in the new file
    std::optional<OldCopy> old_;                  // this thread's own reader, and the chunks around each lack
    unsigned long long posted_ = 0;               // bytes of the file posted
    unsigned long long asked_ = 0;                // of those, asked for by this thread
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Lack> queued_;
    bool ending_ = false, failed_ = false;
    std::thread worker_;
};
