#include "launcher/download/block_refinement.h"

#include "channel/block_sums.h"
#include "launcher/download/block_search.h"
#include "launcher/download/range_answer.h"
#include "launcher/http/text_answer.h"

#include <algorithm>

namespace {

const unsigned long long blockBytes = blockSumsBlockBytes;
// Bounds on what one step's search holds in memory, and on all the sums asked for.
const unsigned long long largestRefinedStepBytes = 2ULL << 20;
const unsigned long long largestRegionBytes = largestRefinedStepBytes + 2 * blockBytes;
const unsigned long long largestSumsBytes = 1ULL << 20;

// A fetched step to search for, with the old copy's bytes where its blocks may be.
struct Candidate {
    std::size_t step = 0;
    unsigned long long regionStart = 0;
    unsigned long long regionEnd = 0;
    unsigned long long firstBlock = 0;
    unsigned long long endBlock = 0;
    std::size_t range = 0;  // the request that gives its sums
};

// Between the old copy's chunks on either side of the step, when it holds
// them; with one side only, as far again as the step is long. A block more
// on each side: the step's first and last blocks start and end in chunks
// held on either side.
bool regionOf(const DeltaStep& step, const ChunkIndex& index, const std::vector<unsigned long long>& heldAt,
              unsigned long long oldSize, Candidate& candidate)
{
    const std::size_t before = step.firstChunk, after = step.firstChunk + step.chunks;
    const bool left = before > 0 && heldAt[before - 1] != notHeldLocally;
    const bool right = after < index.chunks.size() && heldAt[after] != notHeldLocally;
    if ((!left && !right) || step.bytes > largestRefinedStepBytes)
        return false;
    unsigned long long start = left ? heldAt[before - 1] + index.chunks[before - 1].length : 0;
    unsigned long long end = right ? heldAt[after] : start + 2 * step.bytes;
    if (!left)
        start = end > 2 * step.bytes ? end - 2 * step.bytes : 0;
    if (end < start)
        return false;  // the old copy holds them the other way round
    candidate.regionStart = start > blockBytes ? start - blockBytes : 0;
    candidate.regionEnd = std::min(oldSize, end + blockBytes);
    candidate.firstBlock = step.firstByte / blockBytes;
    candidate.endBlock = (step.firstByte + step.bytes + blockBytes - 1) / blockBytes;
    return candidate.regionEnd >= candidate.regionStart + blockBytes &&
           candidate.regionEnd - candidate.regionStart <= largestRegionBytes;
}

// The step's bytes as pieces in order, copied where `found` gives a block, else fetched.
std::vector<DeltaStep> piecesOf(const DeltaStep& step, const Candidate& candidate,
                                const std::vector<unsigned long long>& found, unsigned long long fileSize)
{
    std::vector<DeltaStep> pieces;
    for (unsigned long long block = candidate.firstBlock; block < candidate.endBlock; ++block) {
        const unsigned long long blockStart = block * blockBytes;
        const unsigned long long from = std::max(step.firstByte, blockStart);
        const unsigned long long to = std::min({step.firstByte + step.bytes, blockStart + blockBytes, fileSize});
        const unsigned long long at = found[static_cast<std::size_t>(block - candidate.firstBlock)];
        DeltaStep piece = step;
        piece.part = StepPart::middlePiece;
        piece.source = at == notHeldLocally ? StepSource::server : StepSource::oldBytes;
        piece.firstByte = from;
        piece.bytes = to - from;
        piece.oldByte = piece.fetched() ? 0 : at + (from - blockStart);
        if (!pieces.empty() && pieces.back().source == piece.source &&
            (piece.fetched() || pieces.back().oldByte + pieces.back().bytes == piece.oldByte))
            pieces.back().bytes += piece.bytes;
        else
            pieces.push_back(piece);
    }
    if (pieces.size() == 1) {
        pieces.front().part = StepPart::onlyPiece;
    } else {
        pieces.front().part = StepPart::firstPiece;
        pieces.back().part = StepPart::lastPiece;
    }
    return pieces;
}

// The ranges of the sums object that give the header and each candidate's sums, adjacent ones together.
std::vector<Transport::Range> sumsRanges(const std::string& uri, std::vector<Candidate>& candidates)
{
    std::vector<Transport::Range> ranges{{uri, 0, blockSumsHeaderBytes - 1}};
    for (Candidate& candidate : candidates) {
        const unsigned long long first = blockSumOffset(candidate.firstBlock);
        const unsigned long long last = blockSumOffset(candidate.endBlock) - 1;
        if (first <= ranges.back().last + 1)
            ranges.back().last = std::max(ranges.back().last, last);
        else
            ranges.push_back({uri, first, last});
        candidate.range = ranges.size() - 1;
    }
    return ranges;
}

// Every range's bytes, exactly as asked for; false on anything else.
bool fetchRanges(Transport& transport, const std::vector<Transport::Range>& ranges, unsigned long long objectSize,
                 std::vector<std::string>& bodies)
{
    std::vector<TextAnswer> answers;
    for (const Transport::Range& range : ranges)
        answers.emplace_back(static_cast<std::size_t>(range.last - range.first + 1));
    std::vector<AnswerEnd> ends;
    transport.askInOrder(
        ranges,
        [&](std::size_t i) -> AnswerSink* {
            answers[i] = TextAnswer(static_cast<std::size_t>(ranges[i].last - ranges[i].first + 1));
            return &answers[i];
        },
        ends);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (ends[i] != AnswerEnd::complete || answers[i].overflowed ||
            answers[i].body.size() != ranges[i].last - ranges[i].first + 1 ||
            !isRangeAnswer(answers[i].head, ranges[i].first, ranges[i].last, objectSize))
            return false;
        bodies.push_back(std::move(answers[i].body));
    }
    return true;
}

}  // namespace

std::vector<DeltaStep> refineByBlocks(Transport& transport, const DeltaSource& source, const ChunkIndex& index,
                                      OldCopy& old, std::vector<DeltaStep> steps)
{
    if (source.blockSums.size != blockSumsObjectBytes(index.fileSize) || !transport.pipelines())
        return steps;
    std::vector<Candidate> candidates;
    unsigned long long sumsBytes = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        Candidate candidate;
        candidate.step = i;
        if (!steps[i].fetched() || !regionOf(steps[i], index, old.heldAt, old.size, candidate))
            continue;
        sumsBytes += (candidate.endBlock - candidate.firstBlock) * blockSumBytes;
        if (sumsBytes > largestSumsBytes)
            break;
        candidates.push_back(candidate);
    }
    if (candidates.empty())
        return steps;
    const std::vector<Transport::Range> ranges = sumsRanges(source.blockSumsUri, candidates);
    std::vector<std::string> bodies;
    if (!fetchRanges(transport, ranges, source.blockSums.size, bodies) ||
        !blockSumsHeaderFits(bodies.front(), index.fileSize, index.fileSha256))
        return steps;
    const unsigned long long blockCount = blockCountOf(index.fileSize);
    std::vector<std::vector<DeltaStep>> refined(steps.size());
    std::vector<unsigned char> region;
    for (const Candidate& candidate : candidates) {
        region.resize(static_cast<std::size_t>(candidate.regionEnd - candidate.regionStart));
        if (!old.reader.readAt(candidate.regionStart, reinterpret_cast<char*>(region.data()), region.size()))
            return steps;
        const std::size_t from =
            static_cast<std::size_t>(blockSumOffset(candidate.firstBlock) - ranges[candidate.range].first);
        const std::size_t count = static_cast<std::size_t>(candidate.endBlock - candidate.firstBlock);
        const std::vector<BlockSum> sums = parseBlockSums(bodies[candidate.range].substr(from, count * blockSumBytes));
        const bool shortLast = candidate.endBlock == blockCount && index.fileSize % blockBytes != 0;
        const std::vector<unsigned long long> found =
            findBlocks(sums, shortLast ? count - 1 : count, region, candidate.regionStart);
        if (std::any_of(found.begin(), found.end(), [](unsigned long long at) { return at != notHeldLocally; }))
            refined[candidate.step] = piecesOf(steps[candidate.step], candidate, found, index.fileSize);
    }
    std::vector<DeltaStep> result;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (refined[i].empty())
            result.push_back(steps[i]);
        else
            result.insert(result.end(), refined[i].begin(), refined[i].end());
    }
    return result;
}
