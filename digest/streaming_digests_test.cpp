// Built natively and for Windows (run under Wine).
#include "digest/streaming_digests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace {

// Bytes that differ from piece to piece, longer than one read buffer.
std::string sample(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes;
}

TEST(StreamingDigests, SameDigestsHoweverTheBytesArrive)
{
    StreamingDigests abc(true);
    abc.add("abc", 3);
    EXPECT_EQ(abc.md5Hex(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(abc.sha256Hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(abc.sha256Hex(), abc.sha256Hex());  // asking twice gives the same, not a spent state
    StreamingDigests md5Only;
    md5Only.add("abc", 3);
    EXPECT_EQ(md5Only.sha256Hex(), "");
    StreamingDigests sha256Only(DigestSet::sha256);
    sha256Only.add("abc", 3);
    EXPECT_EQ(sha256Only.md5Hex(), "");
    EXPECT_EQ(sha256Only.sha256Hex(), abc.sha256Hex());

    for (const std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(64), std::size_t(6u << 20) + 5}) {
        const std::string bytes = sample(size);
        for (const std::size_t step : {std::size_t(1), std::size_t(63), std::size_t(1u << 20)}) {
            if (step == 1 && size > 4096)
                continue;
            StreamingDigests pieces(true);
            for (std::size_t at = 0; at < size; at += step)
                pieces.add(bytes.data() + at, std::min(step, size - at));
            EXPECT_EQ(pieces.bytes(), size);
            EXPECT_EQ(pieces.md5Hex(), md5Hex(bytes)) << size << " in steps of " << step;
            EXPECT_EQ(pieces.sha256Hex(), sha256Hex(bytes)) << size << " in steps of " << step;
        }
    }
}

TEST(StreamingDigests, FedFromAStreamToItsEndOrALimit)
{
    const std::string bytes = sample((2u << 20) + 17);
    struct Case {
        unsigned long long limit;
        bool fed;
        std::size_t hashed;
    };
    const Case cases[] = {
        {toStreamEnd, true, bytes.size()},       {bytes.size(), true, bytes.size()},
        {(1u << 20) + 1, true, (1u << 20) + 1},  {0, true, 0},
        {bytes.size() + 1, false, bytes.size()},
    };
    for (const Case& c : cases) {
        std::istringstream in(bytes);
        StreamingDigests digests(true);
        EXPECT_EQ(addFromStream(digests, in, c.limit), c.fed) << c.limit;
        EXPECT_EQ(digests.bytes(), c.hashed) << c.limit;
        EXPECT_EQ(digests.sha256Hex(), sha256Hex(bytes.substr(0, c.hashed))) << c.limit;
    }
    std::istringstream broken(bytes);
    broken.setstate(std::ios::badbit);  // a stream that could not be opened or read
    StreamingDigests digests;
    EXPECT_FALSE(addFromStream(digests, broken));
    EXPECT_TRUE(addFromStream(digests, broken, 0));
}

}  // namespace
