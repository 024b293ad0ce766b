#include "launcher/download/delta_prefetch.h"

#include "digest/background_work.h"
#include "launcher/download/block_refinement.h"

#include <exception>

namespace {

// What may be asked ahead of the steps: the runs looked at (their sums are
// a few bytes a block), and the bytes kept for the steps, little memory.
const unsigned long long mostPostedBytes = 64ULL << 20;
const unsigned long long mostKeptBytes = 8ULL << 20;

class Discarded : public AnswerSink {
public:
    bool takeHead(const AnswerHead&) override { return true; }
    bool takeBody(const char*, std::size_t) override { return true; }
};

std::vector<unsigned long long> chunkStarts(const ChunkIndex& index)
{
    std::vector<unsigned long long> starts;
    unsigned long long at = 0;
    for (const Chunk& chunk : index.chunks) {
        starts.push_back(at);
        at += chunk.length;
    }
    return starts;
}

}  // namespace

DeltaPrefetch::DeltaPrefetch(RangeCache& cache, const std::string& uri, const DeltaSource& source,
                             const ChunkIndex& index, unsigned long long oldSize)
    : cache_(cache), uri_(uri), source_(source), index_(index), chunkStart_(chunkStarts(index))
{
    old_.emplace();
    old_->size = oldSize;
    old_->heldAt.assign(index.chunks.size(), notHeldLocally);
    failed_ = !old_->reader.open(source.oldCopy);
    cache_.record(true);
}

bool DeltaPrefetch::worthIt(const Transport& transport)
{
    // One at a time, each range asked ahead would cost the steps after the scan a round trip of waiting.
    return transport.pipelines() && threadsAreSound();
}

void DeltaPrefetch::lacks(std::size_t first, std::size_t end, const std::vector<unsigned long long>& heldAt)
{
    // Each run of chunks still missing: one the scan found out of order is copied.
    for (std::size_t i = first; i < end;) {
        if (heldAt[i] != notHeldLocally) {
            ++i;
            continue;
        }
        std::size_t runEnd = i;
        while (runEnd < end && heldAt[runEnd] == notHeldLocally)
            ++runEnd;
        const unsigned long long byteEnd = runEnd < chunkStart_.size() ? chunkStart_[runEnd] : index_.fileSize;
        const DeltaStep step{StepSource::server, i, runEnd - i, chunkStart_[i], byteEnd - chunkStart_[i]};
        post({step, i > 0 ? heldAt[i - 1] : notHeldLocally, runEnd < heldAt.size() ? heldAt[runEnd] : notHeldLocally});
        i = runEnd;
    }
}

void DeltaPrefetch::post(const Lack& lack)
{
    if (failed_ || !old_ || posted_ + lack.step.bytes > mostPostedBytes)
        return;
    posted_ += lack.step.bytes;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queued_.push_back(lack);
    }
    changed_.notify_all();
    if (worker_.joinable())
        return;
    try {
        worker_ = std::thread([this] { work(); });
    } catch (const std::exception&) {
        failed_ = true;  // no thread: the steps ask for it all, as without a head start
    }
}

void DeltaPrefetch::finish()
{
    if (worker_.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ending_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }
    old_.reset();  // closed before the new file takes its place
    cache_.record(false);
}

void DeltaPrefetch::work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queued_.empty() || ending_; });
        if (queued_.empty())
            return;
        const std::vector<Lack> lacks(queued_.begin(), queued_.end());
        queued_.clear();
        lock.unlock();
        try {
            prefetch(lacks);
        } catch (const std::exception&) {
            // Out of memory, say: the steps ask for what is missing.
        }
        lock.lock();
    }
}

// The sums around each lack, then the ranges that they leave to fetch.
void DeltaPrefetch::prefetch(const std::vector<Lack>& lacks)
{
    std::vector<DeltaStep> steps;
    for (const Lack& lack : lacks) {
        const std::size_t first = lack.step.firstChunk, end = first + lack.step.chunks;
        if (first > 0)
            old_->heldAt[first - 1] = lack.leftAt;
        if (end < old_->heldAt.size())
            old_->heldAt[end] = lack.rightAt;
        steps.push_back(lack.step);
    }
    // With sums, a step they could not cut (they failed, say) waits for the
    // scan's end: asked whole now, its bytes would mostly be wasted.
    const bool withSums = source_.blockSums.size > 0;
    std::vector<Transport::Range> ranges;
    for (const DeltaStep& step : refineByBlocks(cache_, source_, index_, *old_, steps)) {
        const Transport::Range range{uri_, step.firstByte, step.firstByte + step.bytes - 1};
        if (step.fetched() && (!withSums || step.part != StepPart::wholeChunks) && !cache_.covers(range) &&
            asked_ + step.bytes <= mostKeptBytes) {
            ranges.push_back(range);
            asked_ += step.bytes;
        }
    }
    Discarded discarded;
    std::vector<AnswerEnd> ends;
    cache_.askInOrder(
        ranges, [&discarded](std::size_t) -> AnswerSink* { return &discarded; }, ends);
}
