#include "launcher/download/delta_build.h"

DeltaBuild::DeltaBuild(Transport& transport, const FetchedEntry& entry, const ChunkIndex& index, OldCopy& old,
                       ChunkWriter& writer, FileProgress* progress)
    : transport_(transport), entry_(entry), index_(index), old_(old), writer_(writer), progress_(progress),
      answer_(writer, entry.signedEntry->size, progress)
{
}

bool DeltaBuild::take(const std::vector<DeltaStep>& steps)
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
    std::size_t next = 0;               // the first step not yet taken
    std::size_t armed = ranges.size();  // the range being received, when one is
    bool troubled = false;
    const auto copyUpTo = [&](std::size_t end) {
        for (; next < end && !troubled; ++next)
            troubled = !copyStep(steps[next], old_, index_, writer_) || !stepDone(steps[next]);
        return !troubled;
    };
    const auto rangeDone = [&]() {
        troubled = troubled ||
                   (armed < ranges.size() && (ends[armed] != AnswerEnd::complete || !stepDone(steps[stepOf[armed]])));
        return !troubled;
    };
    transport_.askInOrder(
        ranges,
        [&](std::size_t range) -> AnswerSink* {
            if (range == armed)
                return answer_.arm(steps[stepOf[range]]);  // asked again after a connection closed unanswered
            if (!rangeDone() || !copyUpTo(stepOf[range]))
                return nullptr;
            armed = range;
            next = stepOf[range] + 1;
            return answer_.arm(steps[stepOf[range]]);
        },
        ends);
    // Every range asked for was taken: a transport that gave up early leaves chunks missing.
    const bool allTaken = ranges.empty() || armed == ranges.size() - 1;
    return rangeDone() && allTaken && copyUpTo(steps.size());
}

bool DeltaBuild::stepDone(const DeltaStep& step)
{
    if (step.fetched() && !answer_.taken())
        return false;
    if (endsChunks(step.part) && writer_.nextChunk() != step.firstChunk + step.chunks)
        return false;
    if (!writer_.flush())
        return false;
    if (progress_ != nullptr)
        progress_->advance(writer_.written(), index_.fileSize);
    return true;
}
