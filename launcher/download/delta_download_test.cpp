// A file built from its old copy, through a transport that serves the new
// file's ranges: what is asked for, and what is left in the game directory.
#include "launcher/download/delta_download.h"

#include "channel/block_sums.h"
#include "channel/chunk_index.h"
#include "digest/md5.h"
#include "digest/sha256.h"
#include "launcher/download/partial_download.h"
#include "tests/support/game_directory.h"
#include "tests/support/scripted_transport.h"

#include <algorithm>
#include <random>
#include <string>

namespace {

const ChunkParameters smallChunks{64, 256, 1024};
const unsigned long long pieceBytes = 4096;

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

std::string indexOf(const std::string& file, const ChunkParameters& parameters = smallChunks)
{
    ChunkIndex index;
    index.parameters = parameters;
    index.fileSize = file.size();
    index.fileSha256 = sha256Hex(file);
    ChunkCutter cutter(parameters, true);
    cutter.add(reinterpret_cast<const unsigned char*>(file.data()), file.size(), index.chunks);
    cutter.finish(index.chunks);
    return chunkIndexBytes(index);
}

// What a console would show: the old copy's scan, then the new file's bytes.
struct RecordedProgress : FileProgress {
    void start(unsigned long long, bool) override {}
    void startDelta(unsigned long long, unsigned long long, unsigned long long, unsigned long long) override {}
    void advance(unsigned long long done, unsigned long long) override { written = done; }
    void scanning(unsigned long long done, unsigned long long) override { scanned = done; }
    unsigned long long written = 0;
    unsigned long long scanned = 0;
};

using DeltaDownload = InGameDirectory;

// A placed file was scanned and written whole, with no partial file left;
// whatever stays for the whole download to resume from is the new file's own first bytes.
void expectLeftBehind(DeltaResult result, const RecordedProgress& progress, const std::string& kept,
                      const std::string& changed, std::size_t leastKept)
{
    if (result == DeltaResult::placed) {
        EXPECT_GT(progress.scanned, 0u);
        EXPECT_EQ(progress.written, changed.size());
        EXPECT_EQ(kept, "<missing>") << "a partial file left";
    }
    EXPECT_GE(kept == "<missing>" ? 0 : kept.size(), leastKept);
    if (kept != "<missing>") {
        EXPECT_TRUE(kept == changed.substr(0, kept.size())) << kept.size() << " bytes kept";
    }
}

TEST_F(DeltaDownload, FetchesWhatTheOldCopyLacksAndKeepsOnlyCheckedChunks)
{
    const std::string before = randomBytes(24 << 10, 1), inserted = randomBytes(3000, 2),
                      after = randomBytes(24 << 10, 3);
    const std::string changed = before + inserted + after;
    std::string forged = changed;
    forged[before.size() + 100] ^= 1;
    struct Case {
        const char* name;
        std::string old;
        std::string served;   // what the server holds under the file's name
        std::string partial;  // left by a broken delta, with its record
        bool indexForged;
        DeltaResult result;
        unsigned long long mostFetched;  // of the file's bytes
        std::size_t leastKept = 0;       // of the new file's first bytes, in the partial file after a fall back
    };
    const Case cases[] = {
        {"a part inserted", before + after, changed, "", false, DeltaResult::placed, 3000 + 4 * 1024},
        {"the new file held at the old copy's start", changed + after, changed, "", false, DeltaResult::placed, 0},
        {"resumed after the checked chunks", before + after, changed, changed.substr(0, 30000), false,
         DeltaResult::placed, 3000 + 4 * 1024},
        {"a copy that shares nothing", randomBytes(48 << 10, 4), changed, "", false, DeltaResult::placed,
         changed.size()},
        {"a forged chunk", before + after, forged, "", false, DeltaResult::fallBack, 3000 + 4 * 1024,
         before.size() - 2048},
        {"a forged index", before + after, changed, "", true, DeltaResult::fallBack, 0},
    };
    const std::string index = indexOf(changed);
    const ReleaseEntry signedFile{sha256Hex(changed), changed.size(), "data.pak"};
    const FetchedEntry entry{"/c/data.pak", "data.pak", md5Hex(changed), &signedFile, "data.pak"};
    const DeltaSource source{"/c/index", {sha256Hex(index), index.size(), "data.pak.orn-chunks"}, "data.pak", "", {}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        discardPartial("data.pak");
        write("data.pak", c.old);
        if (!c.partial.empty()) {
            write(partialNameFor("data.pak"), c.partial);
            writeResumeRecord("data.pak", {"data.pak", entry.expectedDigest, changed.size(), "", ""});
        }
        ScriptedTransport server;
        server.serveFile("/c/data.pak", c.served);
        server.serveFile("/c/index", c.indexForged ? indexOf(forged) : index);
        RecordedProgress progress;
        EXPECT_EQ(downloadByDelta(server, entry, source, pieceBytes, &progress), c.result);
        EXPECT_LE(server.bytesServed["/c/data.pak"], c.mostFetched);
        EXPECT_TRUE(read("data.pak") == (c.result == DeltaResult::placed ? changed : c.old));
        expectLeftBehind(c.result, progress, read(partialNameFor("data.pak")), changed, c.leastKept);
    }
}

// Copied chunks between two changes are fetched instead when one round trip
// of the path carries them anyway: one request where there would be two.
TEST_F(DeltaDownload, GapsOneRoundTripCarriesAreFetchedWithTheChangesAroundThem)
{
    std::string changed = randomBytes(2 << 20, 5);
    const std::string old = changed;
    for (const std::size_t at : {std::size_t(300) << 10, std::size_t(1200) << 10})
        changed.replace(at, 4096, randomBytes(4096, static_cast<unsigned>(at)));
    const std::string index = indexOf(changed);
    const ReleaseEntry signedFile{sha256Hex(changed), changed.size(), "data.pak"};
    const FetchedEntry entry{"/c/data.pak", "data.pak", md5Hex(changed), &signedFile, "data.pak"};
    const DeltaSource source{"/c/index", {sha256Hex(index), index.size(), "data.pak.orn-chunks"}, "data.pak", "", {}};
    for (const unsigned long long roundTripBytes : {0ULL, 2ULL << 20}) {
        SCOPED_TRACE(roundTripBytes);
        write("data.pak", old);
        ScriptedTransport server;
        server.roundTripBytes = roundTripBytes;
        server.serveFile("/c/data.pak", changed);
        server.serveFile("/c/index", index);
        ASSERT_EQ(downloadByDelta(server, entry, source, 16 << 20, nullptr), DeltaResult::placed);
        EXPECT_EQ(std::count(server.requests.begin(), server.requests.end(), "/c/data.pak"),
                  roundTripBytes == 0 ? 2 : 1);
    }
}

// A few small edits each change a whole chunk, but only a block or two of
// it: with the block sums, only those blocks are fetched. The sums are hints:
// wrong ones cost the delta, never a wrong byte.
TEST_F(DeltaDownload, ChangedChunksAreRebuiltFromTheBlocksTheOldCopyStillHolds)
{
    const std::string old = randomBytes(2 << 20, 6);
    std::string changed = old;
    changed.replace(300 << 10, 100, randomBytes(100, 7));
    changed.insert(std::size_t(1000) << 10, randomBytes(1000, 8));
    changed.replace(std::size_t(1700) << 10, 5000, randomBytes(5000, 9));
    const std::string index = indexOf(changed, standardChunkParameters);
    const auto sumsOf = [](const std::string& file, const std::string& sha256) {
        BlockSummer summer;
        summer.add(reinterpret_cast<const unsigned char*>(file.data()), file.size());
        return summer.finish(sha256);
    };
    const std::string sums = sumsOf(changed, sha256Hex(changed));
    std::string otherFormat = sums;
    otherFormat[8] = 2;
    // The old blocks' sums as if they were the new ones'.
    std::string forged = sums.substr(0, blockSumsHeaderBytes) + sumsOf(old, "").substr(blockSumsHeaderBytes);
    forged.resize(sums.size(), '\0');
    struct Case {
        const char* name;
        std::string served;
        bool pipelining;
        DeltaResult result;
        unsigned long long leastFetched, mostFetched;  // of the file's bytes
        bool whole = false;                            // sums answered whole (200), whatever the range asked
    };
    const Case cases[] = {
        {"the sums", sums, true, DeltaResult::placed, 100 + 1000 + 5000, 8 * 4096},
        {"a transport that asks one at a time", sums, false, DeltaResult::placed, 100 << 10, 2 << 20},
        {"sums of a format to come", otherFormat, true, DeltaResult::placed, 100 << 10, 2 << 20},
        {"sums answered whole", sums, true, DeltaResult::placed, 100 << 10, 2 << 20, true},
        {"forged sums", forged, true, DeltaResult::fallBack, 0, 2 << 20},
    };
    const ReleaseEntry signedFile{sha256Hex(changed), changed.size(), "data.pak"};
    const FetchedEntry entry{"/c/data.pak", "data.pak", md5Hex(changed), &signedFile, "data.pak"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        discardPartial("data.pak");
        write("data.pak", old);
        const DeltaSource source{"/c/index",
                                 {sha256Hex(index), index.size(), "data.pak.orn-chunks"},
                                 "data.pak",
                                 "/c/blocks",
                                 {sha256Hex(c.served), c.served.size(), "data.pak.orn-blocks"}};
        ScriptedTransport server;
        server.pipelining = c.pipelining;
        server.serveFile("/c/data.pak", changed);
        server.serveFile("/c/index", index);
        if (c.whole)
            server.route("/c/blocks", {answer(200, c.served)});
        else
            server.serveFile("/c/blocks", c.served);
        RecordedProgress progress;
        EXPECT_EQ(downloadByDelta(server, entry, source, 16 << 20, &progress), c.result);
        EXPECT_GE(server.bytesServed["/c/data.pak"], c.leastFetched);
        EXPECT_LE(server.bytesServed["/c/data.pak"], c.mostFetched);
        EXPECT_LE(server.bytesServed["/c/blocks"], c.pipelining ? 4096u : 0u) << "only the changed chunks' sums";
        EXPECT_TRUE(read("data.pak") == (c.result == DeltaResult::placed ? changed : old));
        expectLeftBehind(c.result, progress, read(partialNameFor("data.pak")), changed, 0);
    }
}

}  // namespace

namespace {

// A server whose first few answers for one file go wrong: cut off before
// any byte, or with a byte changed.
class TroubledServer : public ScriptedTransport {
public:
    AnswerEnd get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink) override
    {
        if (uri != troubledUri || troubles == 0)
            return ScriptedTransport::get(uri, fields, sink);
        --troubles;
        if (!forging) {
            requests.push_back(uri);
            asked.push_back(fields.empty() ? "" : fields.front().second.substr(6));
            return AnswerEnd::failed;
        }
        struct Forging : AnswerSink {
            AnswerSink& inner;
            bool changed = false;
            explicit Forging(AnswerSink& sink) : inner(sink) {}
            bool takeHead(const AnswerHead& head) override { return inner.takeHead(head); }
            bool takeBody(const char* data, std::size_t size) override
            {
                std::string bytes(data, size);
                if (!changed && size > 0)
                    bytes[0] ^= 1;
                changed = true;
                return inner.takeBody(bytes.data(), size);
            }
        } forged(sink);
        return ScriptedTransport::get(uri, fields, forged);
    }

    std::string troubledUri;
    int troubles = 0;
    bool forging = false;
};

// The ranges of `uri` asked for more than once.
std::size_t askedAgain(const ScriptedTransport& server, const std::string& uri)
{
    std::vector<std::string> ranges;
    for (std::size_t i = 0; i < server.requests.size(); ++i) {
        if (server.requests[i] == uri)
            ranges.push_back(server.asked[i]);
    }
    std::sort(ranges.begin(), ranges.end());
    return ranges.size() - static_cast<std::size_t>(std::unique(ranges.begin(), ranges.end()) - ranges.begin());
}

}  // namespace

// While the old copy is read, the sums and ranges of what it lacks are
// asked for ahead, and the steps after the scan take them, each asked once;
// an answer that goes wrong meanwhile is asked again, or ends the delta
// as any other, and only checked chunks are ever kept.
TEST_F(DeltaDownload, WhatTheScanFindsMissingIsAskedForWhileItGoesOn)
{
    const std::string old = randomBytes(2 << 20, 10);
    std::string changed = old;
    changed.replace(300 << 10, 100, randomBytes(100, 11));
    changed.replace(std::size_t(1000) << 10, 3000, randomBytes(3000, 12));
    changed.replace(std::size_t(1700) << 10, 5000, randomBytes(5000, 13));
    const std::string index = indexOf(changed, standardChunkParameters);
    BlockSummer summer;
    summer.add(reinterpret_cast<const unsigned char*>(changed.data()), changed.size());
    const std::string sums = summer.finish(sha256Hex(changed));
    const ReleaseEntry signedFile{sha256Hex(changed), changed.size(), "data.pak"};
    const FetchedEntry entry{"/c/data.pak", "data.pak", md5Hex(changed), &signedFile, "data.pak"};
    const DeltaSource source{"/c/index",
                             {sha256Hex(index), index.size(), "data.pak.orn-chunks"},
                             "data.pak",
                             "/c/blocks",
                             {sha256Hex(sums), sums.size(), "data.pak.orn-blocks"}};
    struct Case {
        const char* name;
        const char* troubledUri;
        bool forging;
        DeltaResult result;
        std::size_t askedAgain;  // of the file's ranges
    };
    const Case cases[] = {
        {"answers taken as they came", "", false, DeltaResult::placed, 0},
        {"a range cut off while the scan goes on", "/c/data.pak", false, DeltaResult::placed, 1},
        {"sums cut off while the scan goes on", "/c/blocks", false, DeltaResult::placed, 0},
        {"a range forged while the scan goes on", "/c/data.pak", true, DeltaResult::fallBack, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        discardPartial("data.pak");
        write("data.pak", old);
        TroubledServer server;
        server.pipelining = true;
        server.troubledUri = c.troubledUri;
        server.troubles = 1;
        server.forging = c.forging;
        server.serveFile("/c/data.pak", changed);
        server.serveFile("/c/index", index);
        server.serveFile("/c/blocks", sums);
        RecordedProgress progress;
        EXPECT_EQ(downloadByDelta(server, entry, source, 16 << 20, &progress), c.result);
        EXPECT_EQ(askedAgain(server, "/c/data.pak"), c.askedAgain);
        EXPECT_LE(server.bytesServed["/c/data.pak"], 16u * 4096u) << "only the changed blocks";
        EXPECT_TRUE(read("data.pak") == (c.result == DeltaResult::placed ? changed : old));
        expectLeftBehind(c.result, progress, read(partialNameFor("data.pak")), changed, 0);
    }
}
