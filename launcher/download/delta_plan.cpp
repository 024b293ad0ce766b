#include "launcher/download/delta_plan.h"

namespace {

// Runs of chunks of one kind, in order.
std::vector<DeltaStep> runsOf(const std::vector<Chunk>& chunks, const std::vector<unsigned long long>& heldAt,
                              std::size_t fromChunk, unsigned long long fromByte, std::size_t toChunk)
{
    std::vector<DeltaStep> runs;
    unsigned long long byte = fromByte;
    for (std::size_t i = fromChunk; i < toChunk; ++i) {
        const StepSource source = heldAt[i] == notHeldLocally ? StepSource::server : StepSource::heldChunks;
        if (runs.empty() || runs.back().source != source)
            runs.push_back({source, i, 0, byte, 0});
        ++runs.back().chunks;
        runs.back().bytes += chunks[i].length;
        byte += chunks[i].length;
    }
    return runs;
}

}  // namespace

std::vector<DeltaStep> planDelta(const std::vector<Chunk>& chunks, const std::vector<unsigned long long>& heldAt,
                                 std::size_t fromChunk, unsigned long long fromByte, std::size_t toChunk,
                                 unsigned long long mergeGapBytes, unsigned long long largestRequestBytes)
{
    std::vector<DeltaStep> runs = runsOf(chunks, heldAt, fromChunk, fromByte, toChunk);
    // A short copied run between two fetched ones joins them.
    for (std::size_t i = 1; i + 1 < runs.size(); ++i) {
        if (!runs[i].fetched() && runs[i].bytes <= mergeGapBytes)
            runs[i].source = StepSource::server;
    }
    std::vector<DeltaStep> steps;
    for (const DeltaStep& run : runs) {
        if (!steps.empty() && steps.back().fetched() && run.fetched()) {
            steps.back().chunks += run.chunks;
            steps.back().bytes += run.bytes;
        } else {
            steps.push_back(run);
        }
    }
    // Requests split at chunk boundaries, so that each holds whole chunks to check.
    std::vector<DeltaStep> split;
    for (const DeltaStep& step : steps) {
        if (!step.fetched()) {
            split.push_back(step);
            continue;
        }
        DeltaStep part{StepSource::server, step.firstChunk, 0, step.firstByte, 0};
        for (std::size_t i = step.firstChunk; i < step.firstChunk + step.chunks; ++i) {
            if (part.chunks > 0 && part.bytes + chunks[i].length > largestRequestBytes) {
                split.push_back(part);
                part = {StepSource::server, i, 0, part.firstByte + part.bytes, 0};
            }
            ++part.chunks;
            part.bytes += chunks[i].length;
        }
        split.push_back(part);
    }
    return split;
}
