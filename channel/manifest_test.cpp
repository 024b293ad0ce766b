#include "channel/manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string digestA = "0123456789abcdef0123456789abcdef";
const std::string digestB = "fedcba9876543210fedcba9876543210";

std::string line(const std::string& digest, const std::string& path, char mode = ' ')
{
    return digest + " " + mode + path + "\n";
}

TEST(ManifestParser, ReadsBothMd5sumModesAndKeepsPathsWhole)
{
    const Manifest manifest =
        parseManifest(line(digestA, "ORN_Client.exe") + line(digestB, "libs/data file.pak ", '*') + digestA +
                      "  no line feed at the end");
    ASSERT_EQ(manifest.digests.size(), 3u);
    EXPECT_EQ(manifest.digests.at("ORN_Client.exe"), digestA);
    EXPECT_EQ(manifest.digests.at("libs/data file.pak "), digestB);
    EXPECT_EQ(manifest.digests.at("no line feed at the end"), digestA);
}

TEST(ManifestParser, LaterLineForTheSamePathWins)
{
    const Manifest manifest = parseManifest(line(digestA, "a.dat") + line(digestB, "a.dat"));
    ASSERT_EQ(manifest.digests.size(), 1u);
    EXPECT_EQ(manifest.digests.at("a.dat"), digestB);
    ASSERT_EQ(manifest.entries.size(), 2u) << "both lines stay in the entries";
    EXPECT_EQ(manifest.entries[0].md5, digestA);
}

TEST(ManifestParser, KeepsCarriageReturnsAndLetterCase)
{
    const std::string upper = "0123456789ABCDEF0123456789ABCDEF";
    const Manifest manifest = parseManifest(upper + "  Game.PAK\r\n" + digestA + "  x\r\n");
    EXPECT_EQ(manifest.digests.at("Game.PAK\r"), upper);
    EXPECT_EQ(manifest.digests.at("x\r"), digestA);
    EXPECT_EQ(manifest.digests.count("x"), 0u);
}

TEST(ManifestParser, StopsSilentlyAtTheFirstLineThatDoesNotFit)
{
    const std::string good = line(digestA, "good");
    const std::string after = line(digestB, "after");
    const std::string malformed[] = {
        "\n",                                   // empty line
        " " + line(digestA, "leading-blank"),   // starts with a blank
        digestA + "\t x\n",                     // tab instead of the space
        digestA.substr(1) + "  short\n",        // 31-character digest
        digestA + "0  long\n",                  // 33-character digest
        "\xEF\xBB\xBF" + line(digestA, "bom"),  // byte-order mark
    };
    for (const std::string& bad : malformed) {
        const Manifest manifest = parseManifest(good + bad + after);
        EXPECT_EQ(manifest.digests.size(), 1u) << bad;
        EXPECT_EQ(manifest.digests.count("good"), 1u) << bad;
        EXPECT_EQ(manifest.refusedFrom, 2u) << bad;
        EXPECT_EQ(manifest.lineCount, 3u) << bad;
    }
    EXPECT_TRUE(parseManifest("").digests.empty());
    EXPECT_TRUE(parseManifest("\n\n\n").digests.empty());
    EXPECT_EQ(parseManifest(good + digestA + " ").digests.size(), 1u) << "text ends inside the line";
    EXPECT_EQ(parseManifest(good + digestA).digests.size(), 1u) << "text ends after the digest";
}

TEST(ManifestParser, DigestAndSingleSpaceSwallowsTheNextLine)
{
    // The character after the space is never examined, so the line feed
    // there is taken as that character and the path runs on.
    const Manifest manifest = parseManifest(digestA + " \n" + line(digestB, "next"));
    ASSERT_EQ(manifest.digests.size(), 1u);
    EXPECT_EQ(manifest.digests.at(digestB + "  next"), digestA);
    EXPECT_EQ(manifest.entries.at(0).lines, 2u);
}

TEST(ManifestParser, EmptyPathAndArbitraryDigestFields)
{
    const std::string odd = "not-hex-but-32-characters-long!!";
    const Manifest manifest = parseManifest(digestA + "  \n" + odd + " *p\n");
    EXPECT_EQ(manifest.digests.at(""), digestA);
    EXPECT_EQ(manifest.digests.at("p"), odd);
}

// Line numbers are what the publisher's warnings name: lines as a line reader
// splits them, whatever an entry swallows.
TEST(ManifestParser, NumbersEntriesAndTheLinesNotTaken)
{
    const std::string digestWithLineFeed = digestA.substr(0, 31) + "\n";
    const struct {
        std::string text;
        std::vector<std::size_t> entryLines;
        std::size_t refusedFrom;
        std::size_t lineCount;
    } cases[] = {
        {"", {}, 0, 0},
        {line(digestA, "a") + line(digestB, "b"), {1, 2}, 0, 2},
        {line(digestA, "a") + digestB + "  b", {1, 2}, 0, 2},
        {digestA + " \n" + line(digestB, "next") + line(digestA, "c"), {1, 3}, 0, 3},
        {digestWithLineFeed + "  x\n" + line(digestA, "y"), {1, 3}, 0, 3},
        {line(digestA, "a") + "\n\n" + line(digestB, "b"), {1}, 2, 4},
        {line(digestA, "a") + "junk\r\nmore junk", {1}, 2, 3},
        {"\n", {}, 1, 1},
    };
    for (const auto& c : cases) {
        const Manifest manifest = parseManifest(c.text);
        std::vector<std::size_t> lines;
        for (const ManifestEntry& entry : manifest.entries)
            lines.push_back(entry.lineNumber);
        EXPECT_EQ(lines, c.entryLines) << c.text;
        EXPECT_EQ(manifest.refusedFrom, c.refusedFrom) << c.text;
        EXPECT_EQ(manifest.lineCount, c.lineCount) << c.text;
    }
}

TEST(ManifestParser, ReadsBackWhatTheLineWriterWrites)
{
    const Manifest manifest =
        parseManifest(manifestLine(digestA, "ORN_Client.exe") + manifestLine(digestB, "libs/x y.dll"));
    ASSERT_EQ(manifest.entries.size(), 2u);
    EXPECT_EQ(manifest.entries[1].path, "libs/x y.dll");
    EXPECT_EQ(manifest.entries[1].md5, digestB);
    EXPECT_EQ(manifest.refusedFrom, 0u);
}

}  // namespace
