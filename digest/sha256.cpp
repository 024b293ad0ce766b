#include "digest/sha256.h"

#include <cstdlib>

void prepareSodium()
{
    // Only fails when the system gives no randomness: nothing can be signed then.
    if (sodium_init() < 0)
        std::abort();
}

Sha256::Sha256()
{
    prepareSodium();
    crypto_hash_sha256_init(&state_);
}

void Sha256::update(const void* data, std::size_t size)
{
    crypto_hash_sha256_update(&state_, static_cast<const unsigned char*>(data), size);
}

std::string Sha256::hexDigest()
{
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state_, digest);
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
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
