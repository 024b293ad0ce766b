#include "digest/sha256.h"

#include "digest/sha256_blocks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

void prepareSodium()
{
    // Only fails when the system gives no randomness: nothing can be signed then.
    if (sodium_init() < 0)
        std::abort();
}

namespace {

const std::uint32_t initialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

bool processorHasShaExtensions()
{
    static const bool available = shaExtensionsAvailable();
    return available;
}

std::string hexOf(const unsigned char* digest)
{
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, crypto_hash_sha256_BYTES);
    return hex;
}

}  // namespace

Sha256::Sha256(Path path) : accelerated_(path == Path::fastest && processorHasShaExtensions())
{
    prepareSodium();
    crypto_hash_sha256_init(&portable_);
    std::memcpy(state_, initialState, sizeof state_);
}

void Sha256::update(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (!accelerated_) {
        crypto_hash_sha256_update(&portable_, bytes, size);
        return;
    }
    if (size == 0)
        return;  // `data` may be null then
    bytes_ += size;
    if (pendingBytes_ > 0) {
        const std::size_t taken = std::min(size, sizeof pending_ - pendingBytes_);
        std::memcpy(pending_ + pendingBytes_, bytes, taken);
        pendingBytes_ += taken;
        bytes += taken;
        size -= taken;
        if (pendingBytes_ < sizeof pending_)
            return;
        sha256BlocksWithShaExtensions(state_, pending_, 1);
        pendingBytes_ = 0;
    }
    sha256BlocksWithShaExtensions(state_, bytes, size / 64);
    pendingBytes_ = size % 64;
    std::memcpy(pending_, bytes + size - pendingBytes_, pendingBytes_);
}

std::string Sha256::hexDigest()
{
    if (accelerated_)
        return acceleratedHexDigest();
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&portable_, digest);
    return hexOf(digest);
}

// The padding: a one bit, zeros, and the length in bits, big-endian, ending a block.
std::string Sha256::acceleratedHexDigest()
{
    const unsigned long long bits = bytes_ * 8;
    unsigned char tail[128] = {0x80};
    const std::size_t tailBytes = pendingBytes_ < 56 ? 64 - pendingBytes_ : 128 - pendingBytes_;
    for (int i = 0; i < 8; ++i)
        tail[tailBytes - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    update(tail, tailBytes);
    unsigned char digest[crypto_hash_sha256_BYTES];
    for (int word = 0; word < 8; ++word)
        for (int i = 0; i < 4; ++i)
            digest[4 * word + i] = static_cast<unsigned char>(state_[word] >> (24 - 8 * i));
    return hexOf(digest);
}

std::string sha256Hex(const std::string& bytes)
{
    Sha256 sha;
    sha.update(bytes.data(), bytes.size());
    return sha.hexDigest();
}

bool isSha256Hex(const std::string& text)
{
    if (text.size() != crypto_hash_sha256_BYTES * 2)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}
