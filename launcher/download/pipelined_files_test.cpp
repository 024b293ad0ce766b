// Runs of files that each come in one answer, through a scripted transport
// that says it pipelines: which are placed, what is asked, and what is left
// for a download of its own.
#include "launcher/download/download.h"
#include "launcher/download/pipelined_files.h"
#include "digest/md5.h"
#include "digest/sha256.h"
#include "tests/support/game_directory.h"
#include "tests/support/scripted_transport.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace {

const unsigned long long pieceBytes = 8;
const std::vector<std::string> names = {"a.dat", "b.dat", "c.dat"};
const std::string big = "0123456789abcdefghij";  // three pieces

using PipelinedFilesThroughScriptedTransport = InGameDirectory;

ScriptedAnswer wrongBytes()
{
    ScriptedAnswer other = answer(206, "c");
    other.contentRange = "bytes 0-0/1";
    return other;
}

struct PipelinedRun {
    const char* name;
    std::vector<ScriptedAnswer> answersForB;  // empty: b.dat served as a file (`big` when begunPartial is given)
    std::size_t sentAhead;                    // requests sent beyond the one answered (0: not pipelining at all)
    std::size_t placed;
    std::vector<std::string> requests;  // the files asked for, in order
    bool pipeliningAfter;
    std::string begunPartial;  // what b.dat's partial file holds when it is left begun; "" when it is not
    std::size_t placedAfter;
};

TEST_F(PipelinedFilesThroughScriptedTransport, PlacesEachWholeAnswerInOrderAndLeavesTheFirstThatIsNot)
{
    const std::vector<std::string> all = {"/a.dat", "/b.dat", "/c.dat"};
    const PipelinedRun runs[] = {
        {"every file whole", {}, 1, 3, all, true, "", 0},
        {"a transport that does not pipeline", {}, 0, 0, {}, false, "", 0},
        {"a missing file: its own download tells", {answer(404)}, 1, 1, all, true, "", 1},
        {"bytes not those listed: one at a time from then on", {wrongBytes()}, 1, 1, all, false, "", 1},
        {"an answer cut short", {answer(200, "b", false)}, 1, 1, all, false, "", 1},
        {"a larger file: begun", {}, 1, 1, all, true, big.substr(0, 8), 1},
    };
    for (const PipelinedRun& run : runs) {
        SCOPED_TRACE(run.name);
        std::filesystem::remove_all(root / "libs");
        ScriptedTransport transport;
        for (const std::string& name : names) {
            if (name != "b.dat")
                transport.serveFile("/" + name, name);
        }
        if (!run.answersForB.empty())
            transport.route("/b.dat", run.answersForB);
        else
            transport.serveFile("/b.dat", run.begunPartial.empty() ? "b.dat" : big);
        transport.pipelining = run.sentAhead > 0 || run.placed > 0;
        transport.sentAhead = run.sentAhead;
        std::vector<FetchedEntry> entries;
        for (const std::string& name : names) {
            const std::string content = name == "b.dat" && !run.begunPartial.empty() ? big : name;
            entries.push_back({"/" + name, name, md5Hex(content), nullptr, "libs/" + name});
        }
        std::vector<std::size_t> told;
        PipelinedFiles done =
            downloadPipelined(transport, entries, pieceBytes, [&](std::size_t i) { told.push_back(i); });
        EXPECT_EQ(done.placed, run.placed);
        EXPECT_EQ(told.size(), run.placed);
        EXPECT_EQ(done.placedAfter, run.placedAfter);
        EXPECT_EQ(transport.requests, run.requests);
        EXPECT_EQ(transport.pipelining, run.pipeliningAfter);
        for (std::size_t i = 0; i < names.size(); ++i) {
            const bool placed = i < run.placed || (i > run.placed && i <= run.placed + run.placedAfter);
            EXPECT_EQ(read("libs/" + names[i]), placed ? names[i] : "<missing>");
            EXPECT_EQ(read("libs/" + names[i] + ".orn-partial"),
                      i == run.placed && done.begun ? run.begunPartial : "<missing>");
        }
        ASSERT_EQ(done.begun != nullptr, !run.begunPartial.empty());
        if (done.begun) {
            EXPECT_EQ(finishDownload(*done.begun, entries[1], nullptr), Downloaded::placed);
            EXPECT_EQ(read("libs/b.dat"), big);
        }
    }
}

// Under a signed release each request ends at the signed size, and a file
// larger than a piece, or empty, never goes in such a run.
TEST_F(PipelinedFilesThroughScriptedTransport, SignedFilesAreAskedUpToTheirSignedSize)
{
    const ReleaseEntry small{sha256Hex("small"), 5, "small.dat"};
    const ReleaseEntry larger{sha256Hex(big), big.size(), "big.dat"};
    const ReleaseEntry empty{sha256Hex(""), 0, "empty.dat"};
    EXPECT_TRUE(fitsOneAnswer({"/small.dat", "small.dat", md5Hex("small"), &small, "small.dat"}, pieceBytes));
    EXPECT_FALSE(fitsOneAnswer({"/big.dat", "big.dat", md5Hex(big), &larger, "big.dat"}, pieceBytes));
    EXPECT_FALSE(fitsOneAnswer({"/empty.dat", "empty.dat", md5Hex(""), &empty, "empty.dat"}, pieceBytes));
    write("small.dat.orn-partial", "sma");  // an earlier start's: resumed by a download of its own
    EXPECT_FALSE(fitsOneAnswer({"/small.dat", "small.dat", md5Hex("small"), &small, "small.dat"}, pieceBytes));
    std::filesystem::remove("small.dat.orn-partial");

    ScriptedTransport transport;
    transport.serveFile("/small.dat", "small");
    transport.pipelining = true;
    const std::vector<FetchedEntry> entries = {{"/small.dat", "small.dat", md5Hex("small"), &small, "small.dat"}};
    EXPECT_EQ(downloadPipelined(transport, entries, pieceBytes, [](std::size_t) {}).placed, 1u);
    EXPECT_EQ(transport.asked, std::vector<std::string>{"0-4"});
    EXPECT_EQ(read("small.dat"), "small");
}

}  // namespace
