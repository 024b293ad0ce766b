#pragma once

#include <sodium.h>

#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 fed piece by piece: with the processor's SHA extensions where it
// has them (told at run time), else libsodium's portable code.
class Sha256 {
public:
    enum class Path { fastest, portable };
    explicit Sha256(Path path = Path::fastest);
    void update(const void* data, std::size_t size);
    // Lowercase hex of the digest; the object is spent afterwards.
    std::string hexDigest();

private:
    std::string acceleratedHexDigest();

    bool accelerated_;
    crypto_hash_sha256_state portable_;
    std::uint32_t state_[8];
    unsigned char pending_[64];
    std::size_t pendingBytes_ = 0;
    unsigned long long bytes_ = 0;
};

std::string sha256Hex(const std::string& bytes);
// Whether `text` is a SHA-256 as sha256Hex writes it: 64 lowercase hex digits.
bool isSha256Hex(const std::string& text);

// libsodium must be set up once before its first use; safe to call again.
void prepareSodium();
