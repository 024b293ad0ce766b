#include "launcher/download/delta_download.h"

#include "channel/chunk_index.h"
#include "digest/sha256.h"
#include "launcher/download/block_refinement.h"
#include "launcher/download/chunk_writer.h"
#include "launcher/download/delta_plan.h"
#include "launcher/download/file_chunks.h"
#include "launcher/download/old_copy_scan.h"
#include "launcher/download/partial_download.h"
#include "launcher/download/range_answer.h"
#include "launcher/http/text_answer.h"
#include "platform/platform.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

const int partialContent = 206;

// One delta download: the signed index, where the old copy holds each chunk,
// and the requests for the rest, all written through one ChunkWriter.
class DeltaFetch : private AnswerSink {
public:
    DeltaFetch(Transport& transport, const FetchedEntry& entry, const DeltaSource& source,
               unsigned long long pieceBytes, FileProgress* progress)
        : transport_(transport), entry_(entry), source_(source), pieceBytes_(pieceBytes), progress_(progress),
          writer_(index_, entry)
    {
    }

    DeltaResult run();

private:
    bool readOldCopy();
    bool fetchIndex();
    void showPlan(const std::vector<DeltaStep>& steps);
    bool takeSteps(const std::vector<DeltaStep>& steps);
    bool stepDone(const DeltaStep& step);
    AnswerSink* armRange(const DeltaStep& step);
    bool copyChunks(const DeltaStep& step);
    bool copyPiece(const DeltaStep& step);
    bool takeHead(const AnswerHead& answer) override;
    bool takeBody(const char* data, std::size_t size) override;

    Transport& transport_;
    const FetchedEntry& entry_;
    const DeltaSource& source_;
    unsigned long long pieceBytes_;
    FileProgress* progress_;
    ChunkIndex index_;
    ChunkWriter writer_;
    // Open from the scan until the new file is built, closed before the
    // rename: Windows cannot replace a file that is open.
    std::optional<platform::FileReader> old_;
    unsigned long long oldSize_ = 0;
    std::vector<unsigned long long> heldAt_;
    unsigned long long fetchedBytes_ = 0;

    // The range being received.
    const DeltaStep* step_ = nullptr;
    bool headTaken_ = false;
    bool wrongBytes_ = false;
};

DeltaResult DeltaFetch::run()
{
    if (!readOldCopy())
        return DeltaResult::fallBack;
    // A gap that one round trip would carry anyway is fetched rather than copied: fewer requests.
    const unsigned long long mergeGap = std::max(deltaMergeGapBytes, transport_.bytesPerRoundTrip());
    const std::vector<DeltaStep> steps = refineByBlocks(
        transport_, source_, index_, heldAt_, *old_, oldSize_,
        planDelta(index_.chunks, heldAt_, writer_.nextChunk(), writer_.written(), index_.chunks.size(),
                  std::min(mergeGap, pieceBytes_), pieceBytes_));
    showPlan(steps);
    const bool built = takeSteps(steps);
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
    return putPartialInPlace(entry_) ? DeltaResult::placed : DeltaResult::failed;
}

// The index, the verified prefix of a partial file, and the old copy cut
// (and, while it is read, the new file built as far as it goes).
bool DeltaFetch::readOldCopy()
{
    platform::FileFacts facts;
    old_.emplace();
    // Without an old copy nothing is reused: the whole download asks for the
    // same bytes without the index, and resumes a partial file on its own.
    if (!platform::fileFacts(source_.oldCopy, facts) || entry_.signedEntry == nullptr || !old_->open(source_.oldCopy) ||
        !fetchIndex() || !mayShareChunks(*old_, facts.size, index_))
        return false;
    oldSize_ = facts.size;
    return writer_.open() && scanOldCopy(*old_, facts.size, index_, writer_, heldAt_, progress_);
}

bool DeltaFetch::fetchIndex()
{
    const ReleaseEntry& signedIndex = source_.index;
    if (signedIndex.size == 0 || signedIndex.size > largestChunkIndexBytes)
        return false;
    TextAnswer answer(static_cast<std::size_t>(signedIndex.size));
    answer.body.reserve(static_cast<std::size_t>(signedIndex.size));
    const AnswerEnd end = transport_.ask(source_.indexUri, 0, signedIndex.size - 1, {}, answer);
    if (end != AnswerEnd::complete || answer.overflowed || answer.body.size() != signedIndex.size ||
        (answer.head.status != 200 && answer.head.status != partialContent) ||
        sha256Hex(answer.body) != signedIndex.sha256 || !parseChunkIndex(answer.body, index_))
        return false;
    // The index must describe the very file that the release signs.
    return index_.fileSize == entry_.signedEntry->size && index_.fileSha256 == entry_.signedEntry->sha256;
}

void DeltaFetch::showPlan(const std::vector<DeltaStep>& steps)
{
    if (progress_ == nullptr)
        return;
    unsigned long long fetching = fetchedBytes_;
    for (const DeltaStep& step : steps)
        fetching += step.fetched() ? step.bytes : 0;
    progress_->startDelta(writer_.written(), index_.fileSize, index_.fileSize - fetching, fetching);
}

// The steps in order: the copied ones from the old copy, the fetched ones
// asked for together (pipelined where the transport can), each answer
// taken once the steps before it are written.
bool DeltaFetch::takeSteps(const std::vector<DeltaStep>& steps)
{
    std::vector<Transport::Range> ranges;
    std::vector<std::size_t> stepOf;  // of each range
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (!steps[i].fetched())
            continue;
        ranges.push_back({entry_.uri, steps[i].firstByte, steps[i].firstByte + steps[i].bytes - 1});
        stepOf.push_back(i);
    }
    std::vector<AnswerEnd> ends;
    std::size_t next = 0;          // the first step not yet taken
    std::size_t armed = ranges.size();  // the range being received, when one is
    bool troubled = false;
    const auto copyUpTo = [&](std::size_t end) {
        for (; next < end && !troubled; ++next)
            troubled = !copyChunks(steps[next]) || !stepDone(steps[next]);
        return !troubled;
    };
    const auto rangeDone = [&]() {
        troubled = troubled || (armed < ranges.size() &&
                                (ends[armed] != AnswerEnd::complete || !stepDone(steps[stepOf[armed]])));
        return !troubled;
    };
    transport_.askInOrder(ranges, [&](std::size_t range) -> AnswerSink* {
        if (range == armed)
            return armRange(steps[stepOf[range]]);  // asked again after a connection closed unanswered
        if (!rangeDone() || !copyUpTo(stepOf[range]))
            return nullptr;
        armed = range;
        next = stepOf[range] + 1;
        return armRange(steps[stepOf[range]]);
    }, ends);
    // Every range asked for was taken: a transport that gave up early leaves chunks missing.
    const bool allTaken = ranges.empty() || armed == ranges.size() - 1;
    return rangeDone() && allTaken && copyUpTo(steps.size());
}

// A piece's bytes go through the chunks' check: the sums that found them are only hints.
bool DeltaFetch::copyPiece(const DeltaStep& step)
{
    if (startsChunks(step.part))
        writer_.startRange();
    std::vector<char> bytes(static_cast<std::size_t>(std::min<unsigned long long>(step.bytes, 1u << 16)));
    for (unsigned long long done = 0; done < step.bytes;) {
        const std::size_t size = static_cast<std::size_t>(std::min<unsigned long long>(bytes.size(), step.bytes - done));
        if (!old_->readAt(step.oldByte + done, bytes.data(), size) ||
            !writer_.receive(bytes.data(), size, step.firstChunk + step.chunks))
            return false;
        done += size;
    }
    return true;
}

AnswerSink* DeltaFetch::armRange(const DeltaStep& step)
{
    step_ = &step;
    headTaken_ = false;
    wrongBytes_ = false;
    // A piece continues the chunks of the pieces before it (asked again, it had given nothing yet).
    if (startsChunks(step.part))
        writer_.startRange();
    return this;
}

// A step's chunks are all written and reach the file before the next is taken.
bool DeltaFetch::stepDone(const DeltaStep& step)
{
    if (step.fetched()) {
        if (!headTaken_ || wrongBytes_)
            return false;
        fetchedBytes_ += step.bytes;
    }
    if (endsChunks(step.part) && writer_.nextChunk() != step.firstChunk + step.chunks)
        return false;
    if (!writer_.flush())
        return false;
    if (progress_ != nullptr)
        progress_->advance(writer_.written(), index_.fileSize);
    return true;
}

bool DeltaFetch::copyChunks(const DeltaStep& step)
{
    if (step.source == StepSource::oldBytes)
        return copyPiece(step);
    std::vector<char> bytes;
    for (std::size_t i = step.firstChunk; i < step.firstChunk + step.chunks; ++i) {
        bytes.resize(index_.chunks[i].length);
        if (!old_->readAt(heldAt_[i], bytes.data(), bytes.size()) || !writer_.append(bytes.data(), bytes.size()))
            return false;
    }
    return true;
}

// Only the range asked for, of the file the release signs: a 200 (the whole
// file) or any other range ends the delta.
bool DeltaFetch::takeHead(const AnswerHead& answer)
{
    headTaken_ = isRangeAnswer(answer, step_->firstByte, step_->firstByte + step_->bytes - 1,
                               entry_.signedEntry->size);
    return headTaken_;
}

bool DeltaFetch::takeBody(const char* data, std::size_t size)
{
    wrongBytes_ = !writer_.receive(data, size, step_->firstChunk + step_->chunks);
    if (progress_ != nullptr)
        progress_->advance(writer_.written(), index_.fileSize);
    return !wrongBytes_;
}

}  // namespace

DeltaResult downloadByDelta(Transport& transport, const FetchedEntry& entry, const DeltaSource& source,
                            unsigned long long pieceBytes, FileProgress* progress)
{
    DeltaFetch delta(transport, entry, source, pieceBytes, progress);
    return delta.run();
}
