#include "channel/binary_fields.h"

#include "digest/sha256.h"

#include <algorithm>

std::string rawSha256(const std::string& hex)
{
    unsigned char raw[crypto_hash_sha256_BYTES] = {};
    if (!isSha256Hex(hex) || sodium_hex2bin(raw, sizeof raw, hex.data(), hex.size(), nullptr, nullptr, nullptr) != 0)
        std::fill(raw, raw + sizeof raw, 0);
    return std::string(reinterpret_cast<const char*>(raw), sizeof raw);
}
