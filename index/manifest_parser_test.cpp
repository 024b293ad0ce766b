#include "index/file_index.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string digestA = "0123456789abcdef0123456789abcdef";
const std::string digestB = "fedcba9876543210fedcba9876543210";

std::string line(const std::string& digest, const std::string& path, char mode = ' ')
{
    return digest + " " + mode + path + "\n";
}

TEST(ManifestParser, ReadsBothMd5sumModesAndKeepsPathsWhole)
{
    const FileIndex index(line(digestA, "ORN_Client.exe") + line(digestB, "libs/data file.pak ", '*') +
                          digestA + "  no line feed at the end");
    ASSERT_EQ(index.remoteDigests.size(), 3u);
    EXPECT_EQ(index.remoteDigests.at("ORN_Client.exe"), digestA);
    EXPECT_EQ(index.remoteDigests.at("libs/data file.pak "), digestB);
    EXPECT_EQ(index.remoteDigests.at("no line feed at the end"), digestA);
    EXPECT_TRUE(index.localDigests.empty());
}

TEST(ManifestParser, LaterLineForTheSamePathWins)
{
    const FileIndex index(line(digestA, "a.dat") + line(digestB, "a.dat"));
    ASSERT_EQ(index.remoteDigests.size(), 1u);
    EXPECT_EQ(index.remoteDigests.at("a.dat"), digestB);
}

TEST(ManifestParser, KeepsCarriageReturnsAndLetterCase)
{
    const std::string upper = "0123456789ABCDEF0123456789ABCDEF";
    const FileIndex index(upper + "  Game.PAK\r\n" + digestA + "  x\r\n");
    EXPECT_EQ(index.remoteDigests.at("Game.PAK\r"), upper);
    EXPECT_EQ(index.remoteDigests.at("x\r"), digestA);
    EXPECT_EQ(index.remoteDigests.count("x"), 0u);
}

TEST(ManifestParser, StopsSilentlyAtTheFirstLineThatDoesNotFit)
{
    const std::string good = line(digestA, "good");
    const std::string after = line(digestB, "after");
    const std::string malformed[] = {
        "\n",                                         // empty line
        " " + line(digestA, "leading-blank"),         // starts with a blank
        digestA + "\t x\n",                           // tab instead of the space
        digestA.substr(1) + "  short\n",              // 31-character digest
        digestA + "0  long\n",                        // 33-character digest
        "\xEF\xBB\xBF" + line(digestA, "bom"),        // byte-order mark
    };
    for (const std::string& bad : malformed) {
        const FileIndex index(good + bad + after);
        EXPECT_EQ(index.remoteDigests.size(), 1u) << bad;
        EXPECT_EQ(index.remoteDigests.count("good"), 1u) << bad;
    }
    EXPECT_TRUE(FileIndex("").remoteDigests.empty());
    EXPECT_TRUE(FileIndex("\n\n\n").remoteDigests.empty());
    EXPECT_EQ(FileIndex(good + digestA + " ").remoteDigests.size(), 1u) << "text ends inside the line";
    EXPECT_EQ(FileIndex(good + digestA).remoteDigests.size(), 1u) << "text ends after the digest";
}

TEST(ManifestParser, DigestAndSingleSpaceSwallowsTheNextLine)
{
    // The character after the space is never examined, so the line feed
    // there is taken as that character and the path runs on.
    const FileIndex index(digestA + " \n" + line(digestB, "next"));
    ASSERT_EQ(index.remoteDigests.size(), 1u);
    EXPECT_EQ(index.remoteDigests.at(digestB + "  next"), digestA);
}

TEST(ManifestParser, EmptyPathAndArbitraryDigestFields)
{
    const std::string odd = "not-hex-but-32-characters-long!!";
    const FileIndex index(digestA + "  \n" + odd + " *p\n");
    EXPECT_EQ(index.remoteDigests.at(""), digestA);
    EXPECT_EQ(index.remoteDigests.at("p"), odd);
}

}  // namespace
