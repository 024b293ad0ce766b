#pragma once

#include <sodium.h>

#include <cstddef>
#include <string>

// SHA-256 from libsodium, fed piece by piece.
class Sha256 {
public:
    Sha256();
    void update(const void* data, std::size_t size);
    // Lowercase hex of the digest; the object is spent afterwards.
    std::string hexDigest();

private:
    crypto_hash_sha256_state state_;
};

std::string sha256Hex(const std::string& bytes);
// Whether `text` is a SHA-256 as sha256Hex writes it: 64 lowercase hex digits.
bool isSha256Hex(const std::string& text);

// libsodium must be set up once before its first use; safe to call again.
void prepareSodium();
