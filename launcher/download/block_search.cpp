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

// One search for the first `fullBlocks` blocks of `sums` in a region of
// `regionSize` bytes: their weak sums in order, where each was found, and
// how many strong sums it may still take. Sums that a hostile server made to
// match the weak sum everywhere would otherwise take a strong sum at every
// offset: a few per block of the region are plenty.
class BlockSearch {
public:
    BlockSearch(const std::vector<BlockSum>& sums, std::size_t fullBlocks, std::size_t regionSize)
        : sums_(sums), heldAt_(sums.size(), notHeldLocally), left_(fullBlocks),
          strongLeft_(2 * (regionSize / blockSumsBlockBytes) + 64)
    {
        for (std::size_t i = 0; i < fullBlocks; ++i) {
            byWeak_.emplace_back(sums[i].weak, i);
            filter_.add(sums[i].weak);
        }
        std::sort(byWeak_.begin(), byWeak_.end());
    }

    bool done() const { return left_ == 0 || strongLeft_ == 0; }

    // Notes `offset` for each block still missing whose sums are those of the
    // block of `bytes`, whose weak sum is `weak`; true when any block's are.
    bool matchAt(const unsigned char* bytes, std::uint32_t weak, unsigned long long offset)
    {
        if (!filter_.mayHold(weak))
            return false;
        auto match = std::lower_bound(byWeak_.begin(), byWeak_.end(), std::make_pair(weak, std::size_t(0)));
        std::uint64_t strong = 0;
        if (match != byWeak_.end() && match->first == weak) {
            strong = chunkFingerprintOf(bytes, blockSumsBlockBytes);
            --strongLeft_;
        }
        bool matched = false;
        for (; match != byWeak_.end() && match->first == weak; ++match) {
            if (sums_[match->second].strong != strong)
                continue;
            matched = true;
            if (heldAt_[match->second] == notHeldLocally) {
                heldAt_[match->second] = offset;
                --left_;
            }
        }
        return matched;
    }

    std::vector<unsigned long long> takeHeldAt() { return std::move(heldAt_); }

private:
    const std::vector<BlockSum>& sums_;
    std::vector<std::pair<std::uint32_t, std::size_t>> byWeak_;
    WeakFilter filter_;
    std::vector<unsigned long long> heldAt_;
    std::size_t left_;
    std::size_t strongLeft_;
};

}  // namespace

std::vector<unsigned long long> findBlocks(const std::vector<BlockSum>& sums, std::size_t fullBlocks,
                                           const std::vector<unsigned char>& region, unsigned long long regionStart)
{
    const std::size_t block = blockSumsBlockBytes;
    fullBlocks = std::min(fullBlocks, sums.size());
    if (region.size() < block || fullBlocks == 0)
        return std::vector<unsigned long long>(sums.size(), notHeldLocally);
    BlockSearch search(sums, fullBlocks, region.size());
    RollingBlockSum rolling;
    rolling.reset(region.data(), block);
    for (std::size_t at = 0; !search.done();) {
        const bool matched = search.matchAt(region.data() + at, rolling.value(), regionStart + at);
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
    return search.takeHeldAt();
}
