// Which steps build a changed file: what is copied, what is asked for in one request.
#include "launcher/download/delta_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A file of chunks of 100 bytes; 'c' for a chunk the old copy holds, 'f' for one it lacks.
std::string planned(const std::string& held, std::size_t fromChunk, unsigned long long gap, unsigned long long largest,
                    std::vector<std::uint32_t> lengths = {}, std::size_t toChunk = ~std::size_t(0))
{
    std::vector<Chunk> chunks(held.size());
    std::vector<unsigned long long> heldAt(held.size(), notHeldLocally);
    unsigned long long byte = 0;
    unsigned long long fromByte = 0;
    for (std::size_t i = 0; i < held.size(); ++i) {
        chunks[i].length = i < lengths.size() ? lengths[i] : 100;
        if (held[i] == 'c')
            heldAt[i] = 1000 + byte;
        if (i == fromChunk)
            fromByte = byte;
        byte += chunks[i].length;
    }
    if (fromChunk == held.size())
        fromByte = byte;
    unsigned long long untilByte = 0;
    toChunk = std::min(toChunk, held.size());
    for (std::size_t i = 0; i < toChunk; ++i)
        untilByte += chunks[i].length;
    std::string text;
    unsigned long long expectedByte = fromByte;
    for (const DeltaStep& step : planDelta(chunks, heldAt, fromChunk, fromByte, toChunk, gap, largest)) {
        EXPECT_EQ(step.firstByte, expectedByte) << "steps follow each other without a gap";
        expectedByte += step.bytes;
        text += (step.fetched() ? "fetch " : "copy ") + std::to_string(step.firstByte) + "+" +
                std::to_string(step.bytes) + " ";
    }
    EXPECT_EQ(expectedByte, std::max(untilByte, fromByte)) << "steps end where they were asked to";
    return text;
}

TEST(DeltaPlan, CopiesHeldRunsAndMergesAndSplitsRequests)
{
    struct Case {
        const char* name;
        std::string held;
        std::size_t from;
        unsigned long long gap;
        unsigned long long largest;
        std::string steps;
    };
    const Case cases[] = {
        {"all held", "cccc", 0, 0, 1000, "copy 0+400 "},
        {"nothing held", "ffff", 0, 0, 1000, "fetch 0+400 "},
        {"one change in the middle", "ccfcc", 0, 0, 1000, "copy 0+200 fetch 200+100 copy 300+200 "},
        {"a short held gap is fetched", "fcfcc", 0, 100, 1000, "fetch 0+300 copy 300+200 "},
        {"a long held gap is copied", "fccfc", 0, 100, 1000, "fetch 0+100 copy 100+200 fetch 300+100 copy 400+100 "},
        {"held runs at the ends are never merged", "cfc", 0, 1000, 1000, "copy 0+100 fetch 100+100 copy 200+100 "},
        {"split at the largest request", "fffff", 0, 0, 200, "fetch 0+200 fetch 200+200 fetch 400+100 "},
        {"merged, then split", "ffcff", 0, 100, 300, "fetch 0+300 fetch 300+200 "},
        {"from a verified prefix", "ccffc", 2, 0, 1000, "fetch 200+200 copy 400+100 "},
        {"prefix reaches the end", "cff", 3, 0, 1000, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(planned(c.held, c.from, c.gap, c.largest), c.steps) << c.name;
    // A chunk larger than the largest request is still asked for whole.
    EXPECT_EQ(planned("ff", 0, 0, 150, {300, 50}), "fetch 0+300 fetch 300+50 ");
    // Up to a chunk only: the catching up after a change, while the old copy is read.
    EXPECT_EQ(planned("cfcfcc", 1, 0, 1000, {}, 4), "fetch 100+100 copy 200+100 fetch 300+100 ");
}

}  // namespace
