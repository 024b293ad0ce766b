#include "digest/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Bytes 0, 1, ..., 255, 0, 1, ...: cheap to make at any length.
std::vector<unsigned char> countingBytes(std::size_t length)
{
    std::vector<unsigned char> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<unsigned char>(i);
    return bytes;
}

TEST(Md5, MatchesTheRfc1321TestSuite)
{
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string eightyDigits;
    for (int i = 0; i < 8; ++i)
        eightyDigits += "1234567890";
    EXPECT_EQ(md5Hex(eightyDigits), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundariesAroundOneBlock)
{
    // Reference values from md5sum over runs of 'a'.
    EXPECT_EQ(md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(md5Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(md5Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
}

TEST(Md5, NulBytesAreHashedByLength)
{
    const std::string withNul("ab\0cd", 5);
    EXPECT_NE(md5Hex(withNul), md5Hex("ab"));
    EXPECT_EQ(md5Hex(std::string(1, '\0')), "93b885adfe0da089cdf634904fd59f71");
}

TEST(Md5, SplitAndZeroLengthUpdatesGiveTheSameDigest)
{
    const std::vector<unsigned char> bytes = countingBytes(1000);
    Md5 whole;
    whole.update(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    const std::string expected = whole.finalize().hexDigest();

    for (std::uint32_t step : {1u, 3u, 55u, 63u, 64u, 65u, 127u, 999u}) {
        Md5 split;
        split.update(bytes.data(), 0);
        for (std::uint32_t offset = 0; offset < bytes.size(); offset += step) {
            const std::uint32_t length = std::min<std::uint32_t>(step, 1000 - offset);
            split.update(reinterpret_cast<const char*>(bytes.data()) + offset, length);
            split.update(bytes.data(), 0);
        }
        EXPECT_EQ(split.finalize().hexDigest(), expected) << "pieces of " << step;
    }
}

TEST(Md5, LifecycleOfOneObject)
{
    Md5 md5;
    EXPECT_EQ(md5.hexDigest(), "");
    md5.update("abc", 3);
    EXPECT_EQ(md5.hexDigest(), "");

    const std::string digest = md5.finalize().hexDigest();
    EXPECT_EQ(digest, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5.finalize().hexDigest(), digest);
    md5.update("more", 4);
    md5.finalize();
    EXPECT_EQ(md5.hexDigest(), digest);

    std::ostringstream out;
    out << md5 << '|' << Md5("a");
    EXPECT_EQ(out.str(), digest + "|0cc175b9c0f1b6a831c399e269772661");
}

TEST(Md5, HighBitDigestBytesAreTwoLowercaseDigits)
{
    for (int i = 0; i < 200; ++i) {
        const std::string digest = md5Hex(std::string(static_cast<std::size_t>(i), 'x'));
        ASSERT_EQ(digest.size(), 32u);
        EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << digest;
    }
}

// More than 2^29 bytes overflow the low word of the bit count: once within a
// single update() call, and once across many calls.
TEST(Md5, BitCountCarriesIntoTheHighWord)
{
    const std::size_t singleCall = (std::size_t{1} << 29) + 77;
    const std::vector<unsigned char> bytes = countingBytes(singleCall);
    Md5 single;
    single.update(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    EXPECT_EQ(single.finalize().hexDigest(), "87b83907d3da5c5fdb0e85154f317392");

    const std::size_t total = std::size_t{600} * (1 << 20) + 13;
    const std::uint32_t piece = 1 << 20;  // a multiple of 256 keeps the pattern continuous
    Md5 pieces;
    std::size_t fed = 0;
    while (fed < total) {
        const std::uint32_t length = static_cast<std::uint32_t>(std::min<std::size_t>(piece, total - fed));
        pieces.update(bytes.data(), length);
        fed += length;
    }
    EXPECT_EQ(pieces.finalize().hexDigest(), "1d79da6faccad80dcaf2c7c0611d0ff6");
}

}  // namespace
