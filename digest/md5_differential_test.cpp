#include "digest/md5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>

namespace {

std::string opensslMd5Hex(const std::string& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 0x0f];
    }
    return text;
}

TEST(Md5Differential, AgreesWithOpenSslOverRandomLengthsAndSplits)
{
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byteValue(0, 255);
    for (int round = 0; round < 3000; ++round) {
        // Mostly short inputs around block edges, some of several blocks.
        const std::size_t length = round < 2000 ? random() % 300 : random() % 20000;
        std::string bytes(length, '\0');
        for (char& c : bytes)
            c = static_cast<char>(byteValue(random));
        const std::string expected = opensslMd5Hex(bytes);
        ASSERT_EQ(md5Hex(bytes), expected) << "length " << length;

        Md5 split;
        std::size_t offset = 0;
        while (offset < length) {
            const std::size_t piece = std::min<std::size_t>(random() % 150, length - offset);
            split.update(bytes.data() + offset, static_cast<std::uint32_t>(piece));
            offset += piece;
        }
        ASSERT_EQ(split.finalize().hexDigest(), expected) << "split, length " << length;
    }
}

}  // namespace
