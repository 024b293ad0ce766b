#include "launcher/download/block_search.h"

#include "channel/chunk_cutter.h"
#include "launcher/download/delta_plan.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

// A bit per value of the weak sum's folded halves: most offsets match no
// block, and one bit tells so before any search.
class WeakFilter {
public:
    void add(std::uint32_t weak) { bits_[slot(weak) / 64] |= std::uint64_t(1) << (slot(weak) % 64); }
    bool mayHold(std::uint32_t weak) const { return (bits_[slot(weak) / 64] >> (slot(weak) % 64)) & 1u; }

private:
    static std::uint32_t slot(std::uint32_t weak) { return (weak ^ (weak >> 16)) & 0xffffu; }
    std::vector<std::uint64_t> bits_ = std::vector<std::uint64_t>(1024, 0);
};

}  // namespace

std::vector<unsigned long long> findBlocks(const std::vector<BlockSum>& sums, std::size_t fullBlocks,
                                           const std::vector<unsigned char>& region, unsigned long long regionStart)
{
    const std::size_t block = blockSumsBlockBytes;
    std::vector<unsigned long long> heldAt(sums.size(), notHeldLocally);
    fullBlocks = std::min(fullBlocks, sums.size());
    if (region.size() < block || fullBlocks == 0)
        return heldAt;
    std::vector<std::pair<std::uint32_t, std::size_t>> byWeak;
    WeakFilter filter;
    for (std::size_t i = 0; i < fullBlocks; ++i) {
        byWeak.emplace_back(sums[i].weak, i);
        filter.add(sums[i].weak);
    }
    std::sort(byWeak.begin(), byWeak.end());
    std::size_t left = fullBlocks;
    // Sums that a hostile server made to match the weak sum everywhere would
    // otherwise take a strong sum at every offset: a few per block are plenty.
    std::size_t strongLeft = 2 * (region.size() / block) + 64;
    RollingBlockSum rolling;
    rolling.reset(region.data(), block);
    for (std::size_t at = 0; left > 0 && strongLeft > 0;) {
        const std::uint32_t weak = rolling.value();
        bool matched = false;
        if (filter.mayHold(weak)) {
            auto match = std::lower_bound(byWeak.begin(), byWeak.end(), std::make_pair(weak, std::size_t(0)));
            std::uint64_t strong = 0;
            if (match != byWeak.end() && match->first == weak) {
                strong = chunkFingerprintOf(region.data() + at, block);
                --strongLeft;
            }
            for (; match != byWeak.end() && match->first == weak; ++match) {
                if (sums[match->second].strong != strong)
                    continue;
                matched = true;
                if (heldAt[match->second] == notHeldLocally) {
                    heldAt[match->second] = regionStart + at;
                    --left;
                }
            }
        }
        // After a match the next block most likely follows it: start afresh there.
        if (matched && at + 2 * block <= region.size()) {
            at += block;
            rolling.reset(region.data() + at, block);
        } else if (!matched && at + block < region.size()) {
            rolling.roll(region[at], region[at + block]);
            ++at;
        } else {
            break;
        }
    }
    return heldAt;
}
