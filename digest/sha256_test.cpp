// SHA-256 on both paths against libsodium's one-shot digest: lengths around
// every block boundary, odd alignments, bytes fed in uneven pieces.
#include "digest/sha256.h"
#include "digest/sha256_blocks.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string referenceHex(const unsigned char* data, std::size_t size)
{
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, data, size);
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}

TEST(Sha256, BothPathsGiveLibsodiumsDigest)
{
    prepareSodium();
    std::mt19937 random(7);
    std::vector<unsigned char> bytes(4096 + 16);
    for (unsigned char& byte : bytes)
        byte = static_cast<unsigned char>(random());
    std::vector<std::size_t> lengths = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 4096};
    for (int i = 0; i < 200; ++i)
        lengths.push_back(random() % 1500);
    for (const Sha256::Path path : {Sha256::Path::portable, Sha256::Path::fastest}) {
        for (const std::size_t length : lengths) {
            const std::size_t offset = random() % 16;
            const unsigned char* data = bytes.data() + offset;
            Sha256 sha(path);
            sha.update(nullptr, 0);  // as an empty read hands it on
            for (std::size_t at = 0; at < length;) {
                const std::size_t piece = std::min<std::size_t>(length - at, random() % 200);
                sha.update(data + at, piece);
                at += piece;
            }
            ASSERT_EQ(sha.hexDigest(), referenceHex(data, length))
                << (path == Sha256::Path::portable ? "portable" : "fastest") << ", " << length << " bytes at +"
                << offset;
        }
    }
    std::cout << "SHA extensions " << (shaExtensionsAvailable() ? "used" : "absent: the portable path twice")
              << std::endl;
}

}  // namespace
