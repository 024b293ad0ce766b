#pragma once

#include "digest/background_digest.h"
#include "digest/sha256.h"
#include "digest/md5.h"

#include <cstddef>
#include <istream>
#include <limits>
#include <memory>
#include <string>

// Which digests a run of bytes needs: the MD5 that the manifest lists, the
// SHA-256 that a signed release lists, or both (the publisher writes both).
enum class DigestSet { md5, sha256, md5AndSha256 };

// The digests of one run of bytes fed piece by piece, and the byte count.
class StreamingDigests {
public:
    explicit StreamingDigests(DigestSet set);
    explicit StreamingDigests(bool withSha256 = false)
        : StreamingDigests(withSha256 ? DigestSet::md5AndSha256 : DigestSet::md5)
    {
    }

    // Any size, 4 GiB and beyond included.
    void add(const char* data, std::size_t size);
    unsigned long long bytes() const { return bytes_; }

    // Lowercase hex of the bytes added so far; nothing may be added after
    // the first of these. Empty for a digest that was not asked for.
    std::string md5Hex();
    std::string sha256Hex();

private:
    void finish();

    // Each on a thread of its own, beside the caller's work.
    std::unique_ptr<BackgroundDigest> md5_;
    std::unique_ptr<BackgroundDigest> sha256_;
    unsigned long long bytes_ = 0;
    bool finished_ = false;
    std::string md5Hex_;
    std::string sha256Hex_;
};

inline constexpr unsigned long long toStreamEnd = std::numeric_limits<unsigned long long>::max();

// Feeds `digests` from `in` through one fixed buffer, so memory stays flat,
// until `limit` bytes or the stream's end. True when it fed `limit` bytes,
// or, with no limit, reached the end without a read error.
bool addFromStream(StreamingDigests& digests, std::istream& in, unsigned long long limit = toStreamEnd);
