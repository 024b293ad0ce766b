#pragma once

#include <cstddef>
#include <string>

// The fields of the channel's binary formats (chunk indexes, block sums):
// little-endian numbers and raw SHA-256 digests.

inline void putNumber(std::string& out, unsigned long long value, unsigned bytes)
{
    for (unsigned i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xffu);
}

// The caller checks that `bytes` bytes are there.
inline unsigned long long numberAt(const std::string& in, std::size_t at, unsigned bytes)
{
    unsigned long long value = 0;
    for (unsigned i = 0; i < bytes; ++i)
        value |= static_cast<unsigned long long>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    return value;
}

// The 32 bytes of a lowercase hex SHA-256; zeros for anything else.
std::string rawSha256(const std::string& hex);
