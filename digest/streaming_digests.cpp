#include "digest/streaming_digests.h"

#include <cstdint>
#include <vector>

namespace {

// Md5::update counts in 32 bits: longer runs go in whole-block pieces.
const std::size_t largestMd5Piece = 0x80000000u;
const std::size_t streamPieceBytes = 1u << 20;

class RunningMd5 : public RunningDigest {
public:
    void update(const char* data, std::size_t size) override
    {
        while (size > 0) {
            const std::size_t piece = size < largestMd5Piece ? size : largestMd5Piece;
            md5_.update(data, static_cast<std::uint32_t>(piece));
            data += piece;
            size -= piece;
        }
    }
    std::string hexDigest() override { return md5_.finalize().hexDigest(); }

private:
    Md5 md5_;
};

class RunningSha256 : public RunningDigest {
public:
    void update(const char* data, std::size_t size) override { sha256_.update(data, size); }
    std::string hexDigest() override { return sha256_.hexDigest(); }

private:
    Sha256 sha256_;
};

}  // namespace

StreamingDigests::StreamingDigests(DigestSet set)
    : md5_(set != DigestSet::sha256 ? std::make_unique<BackgroundDigest>(std::make_unique<RunningMd5>()) : nullptr),
      sha256_(set != DigestSet::md5 ? std::make_unique<BackgroundDigest>(std::make_unique<RunningSha256>()) : nullptr)
{
}

void StreamingDigests::add(const char* data, std::size_t size)
{
    if (md5_)
        md5_->update(data, size);
    if (sha256_)
        sha256_->update(data, size);
    bytes_ += size;
}

void StreamingDigests::finish()
{
    if (finished_)
        return;
    finished_ = true;
    if (md5_)
        md5Hex_ = md5_->hexDigest();
    if (sha256_)
        sha256Hex_ = sha256_->hexDigest();
}

std::string StreamingDigests::md5Hex()
{
    finish();
    return md5Hex_;
}

std::string StreamingDigests::sha256Hex()
{
    finish();
    return sha256Hex_;
}

bool addFromStream(StreamingDigests& digests, std::istream& in, unsigned long long limit)
{
    std::vector<char> piece(streamPieceBytes);
    unsigned long long left = limit;
    while (in && left > 0) {
        in.read(piece.data(), static_cast<std::streamsize>(left < piece.size() ? left : piece.size()));
        const auto count = static_cast<std::size_t>(in.gcount());
        digests.add(piece.data(), count);
        left -= count;
    }
    return left == 0 || (limit == toStreamEnd && in.eof() && !in.bad());
}
