#include "channel/block_sums.h"

#include "channel/binary_fields.h"
#include "channel/chunk_cutter.h"

#include <algorithm>

namespace {

const char magic[] = "ORNBLOCK";
const std::size_t magicBytes = 8;
const std::uint32_t formatVersion = 1;

}  // namespace

void RollingBlockSum::reset(const unsigned char* data, std::size_t size)
{
    a_ = 0;
    b_ = 0;
    size_ = static_cast<std::uint16_t>(size);
    for (std::size_t i = 0; i < size; ++i) {
        a_ = static_cast<std::uint16_t>(a_ + data[i]);
        b_ = static_cast<std::uint16_t>(b_ + a_);
    }
}

std::uint32_t weakBlockSum(const unsigned char* data, std::size_t size)
{
    RollingBlockSum sum;
    sum.reset(data, size);
    return sum.value();
}

BlockSum blockSumOf(const unsigned char* data, std::size_t size)
{
    return {weakBlockSum(data, size), chunkFingerprintOf(data, size)};
}

void BlockSummer::add(const unsigned char* data, std::size_t size)
{
    size_ += size;
    if (!pending_.empty()) {
        const std::size_t taken = std::min<std::size_t>(size, blockSumsBlockBytes - pending_.size());
        pending_.insert(pending_.end(), data, data + taken);
        data += taken;
        size -= taken;
        if (pending_.size() < blockSumsBlockBytes)
            return;
        sums_.push_back(blockSumOf(pending_.data(), pending_.size()));
        pending_.clear();
    }
    for (; size >= blockSumsBlockBytes; data += blockSumsBlockBytes, size -= blockSumsBlockBytes)
        sums_.push_back(blockSumOf(data, blockSumsBlockBytes));
    pending_.assign(data, data + size);
}

std::string BlockSummer::finish(const std::string& fileSha256)
{
    if (!pending_.empty())
        sums_.push_back(blockSumOf(pending_.data(), pending_.size()));
    pending_.clear();
    std::string out(magic, magicBytes);
    putNumber(out, formatVersion, 4);
    putNumber(out, blockSumsBlockBytes, 4);
    putNumber(out, size_, 8);
    out += rawSha256(fileSha256);
    out.reserve(out.size() + sums_.size() * blockSumBytes);
    for (const BlockSum& sum : sums_) {
        putNumber(out, sum.weak, 4);
        putNumber(out, sum.strong, 8);
    }
    return out;
}

unsigned long long blockCountOf(unsigned long long fileSize)
{
    return (fileSize + blockSumsBlockBytes - 1) / blockSumsBlockBytes;
}

bool blockSumsHeaderFits(const std::string& header, unsigned long long fileSize, const std::string& fileSha256)
{
    return header.size() >= blockSumsHeaderBytes && header.compare(0, magicBytes, magic, magicBytes) == 0 &&
           numberAt(header, 8, 4) == formatVersion && numberAt(header, 12, 4) == blockSumsBlockBytes &&
           numberAt(header, 16, 8) == fileSize && header.compare(24, 32, rawSha256(fileSha256)) == 0;
}

std::vector<BlockSum> parseBlockSums(const std::string& bytes)
{
    std::vector<BlockSum> sums(bytes.size() / blockSumBytes);
    for (std::size_t i = 0; i < sums.size(); ++i) {
        sums[i].weak = static_cast<std::uint32_t>(numberAt(bytes, i * blockSumBytes, 4));
        sums[i].strong = numberAt(bytes, i * blockSumBytes + 4, 8);
    }
    return sums;
}
