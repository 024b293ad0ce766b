#pragma once

#include "channel/block_sums.h"

#include <cstddef>
#include <vector>

// Where `region`, the bytes of the old copy from `regionStart` on, holds
// each of the blocks whose sums are `sums` (notHeldLocally where it holds
// none), trying every offset. Only the first `fullBlocks` are searched: a
// short block (the file's last) is fetched. The search takes a strong sum
// only a few times per block of the region, whatever the sums say.
std::vector<unsigned long long> findBlocks(const std::vector<BlockSum>& sums, std::size_t fullBlocks,
                                           const std::vector<unsigned char>& region, unsigned long long regionStart);
