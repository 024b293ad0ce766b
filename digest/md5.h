#pragma once

#include <cstdint>
#include <ostream>
#include <string>

// MD5 message digest (RFC 1321). One object computes one digest: feed bytes
// with update(), then finalize(); hexDigest() is empty until then.
class Md5 {
public:
    Md5();
    explicit Md5(const std::string& text);

    void update(const unsigned char* input, std::uint32_t length);
    void update(const char* input, std::uint32_t length);
    Md5& finalize();

    std::string hexDigest() const;

private:
    // Compresses `count` consecutive 64-byte blocks into state.
    void transform(const unsigned char* blocks, std::uint32_t count);

    bool finalized;
    unsigned char buffer[64];
    std::uint32_t bitCount[2];
    std::uint32_t state[4];
    unsigned char digest[16];
};

std::ostream& operator<<(std::ostream& out, Md5 md5);

// 32 lowercase hexadecimal characters for any byte string, the empty one included.
std::string md5Hex(std::string text);

// Whether two digests in hexadecimal are the same, letter case ignored (a
// manifest may spell its digests in capitals).
bool sameHexDigest(const std::string& a, const std::string& b);
