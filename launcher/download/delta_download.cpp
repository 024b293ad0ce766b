#include "launcher/download/delta_download.h"

#include "channel/chunk_index.h"
#include "launcher/download/block_refinement.h"
#include "launcher/download/chunk_index_fetch.h"
#include "launcher/download/chunk_writer.h"
#include "launcher/download/delta_build.h"
#include "launcher/download/delta_plan.h"
#include "launcher/download/delta_prefetch.h"
#include "launcher/download/file_chunks.h"
#include "launcher/download/old_copy.h"
#include "launcher/download/old_copy_scan.h"
#include "launcher/download/partial_download.h"
#include "launcher/download/range_cache.h"
#include "platform/platform.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// One delta download: the signed index, the old copy read for the chunks it
// holds, the plan for the rest, and the new file built from it and checked,
// all written through one ChunkWriter.
class DeltaFetch {
public:
    DeltaFetch(Transport& transport, const FetchedEntry& entry, const DeltaSource& source,
               unsigned long long pieceBytes, FileProgress* progress)
        : transport_(transport), entry_(entry), source_(source), pieceBytes_(pieceBytes), progress_(progress),
          writer_(index_, entry), cache_(transport)
    {
    }

    DeltaResult run();

private:
    bool readOldCopy();
    bool scan();
    void showPlan(const std::vector<DeltaStep>& steps);

    Transport& transport_;
    const FetchedEntry& entry_;
    const DeltaSource& source_;
    unsigned long long pieceBytes_;
    FileProgress* progress_;
    ChunkIndex index_;
    ChunkWriter writer_;
    std::optional<OldCopy> old_;
    RangeCache cache_;  // what was asked while the old copy was read, for the steps after
};

DeltaResult DeltaFetch::run()
{
    if (!readOldCopy())
        return DeltaResult::fallBack;
    // A gap that one round trip would carry anyway is fetched rather than copied: fewer requests.
    const unsigned long long mergeGap = std::max(deltaMergeGapBytes, transport_.bytesPerRoundTrip());
    const std::vector<DeltaStep> steps =
        refineByBlocks(cache_, source_, index_, *old_,
                       planDelta(index_.chunks, old_->heldAt, writer_.nextChunk(), writer_.written(),
                                 index_.chunks.size(), std::min(mergeGap, pieceBytes_), pieceBytes_));
    showPlan(steps);
    const bool built = DeltaBuild(cache_, entry_, index_, *old_, writer_, progress_).take(steps);
    old_.reset();
    if (!built)
        return DeltaResult::fallBack;  // the verified chunks stay for the whole download to resume from
    if (steps.empty() && progress_ != nullptr)
        progress_->advance(writer_.written(), index_.fileSize);  // built whole while the old copy was read
    if (!writer_.verified()) {
        // Bytes copied from an old copy that changed meanwhile: nothing of it is kept.
        discardPartial(entry_.localName);
        return DeltaResult::fallBack;
    }
    switch (placeVerifiedPartial(entry_)) {
    case Placed::inPlace:
        return DeltaResult::placed;
    case Placed::held:
        return DeltaResult::held;
    case Placed::failed:
        break;
    }
    return DeltaResult::failed;
}

// The index, the verified prefix of a partial file, and the old copy cut
// (and, while it is read, the new file built as far as it goes).
bool DeltaFetch::readOldCopy()
{
    platform::FileFacts facts;
    old_.emplace();
    // Without an old copy nothing is reused: the whole download asks for the
    // same bytes without the index, and resumes a partial file on its own.
    if (!platform::fileFacts(source_.oldCopy, facts) || entry_.signedEntry == nullptr ||
        !old_->reader.open(source_.oldCopy) || !fetchChunkIndex(transport_, source_, *entry_.signedEntry, index_) ||
        !mayShareChunks(old_->reader, facts.size, index_))
        return false;
    old_->size = facts.size;
    return writer_.open() && scan();
}

// The scan, with the requests for what it does not find started as it goes, where that pays.
bool DeltaFetch::scan()
{
    if (!DeltaPrefetch::worthIt(transport_))
        return scanOldCopy(*old_, index_, writer_, progress_);
    cache_.expect(entry_.uri, index_.fileSize);
    if (source_.blockSums.size > 0)
        cache_.expect(source_.blockSumsUri, source_.blockSums.size);
    DeltaPrefetch prefetch(cache_, entry_.uri, source_, index_, old_->size);
    return scanOldCopy(*old_, index_, writer_, progress_,
                       [&](std::size_t first, std::size_t end) { prefetch.lacks(first, end, old_->heldAt); });
}

void DeltaFetch::showPlan(const std::vector<DeltaStep>& steps)
{
    if (progress_ == nullptr)
        return;
    unsigned long long fetching = 0;
    for (const DeltaStep& step : steps)
        fetching += step.fetched() ? step.bytes : 0;
    progress_->startDelta(writer_.written(), index_.fileSize, index_.fileSize - fetching, fetching);
}

}  // namespace

DeltaResult downloadByDelta(Transport& transport, const FetchedEntry& entry, const DeltaSource& source,
                            unsigned long long pieceBytes, FileProgress* progress)
{
    DeltaFetch delta(transport, entry, source, pieceBytes, progress);
    return delta.run();
}
