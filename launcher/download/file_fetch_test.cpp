// The file fetch driven through a scripted transport: which pieces it asks
// for, which answers it takes, and what it leaves in the game directory.
#include "launcher/download/download.h"
#include "launcher/download/file_fetch.h"
#include "digest/md5.h"
#include "digest/sha256.h"
#include "tests/support/game_directory.h"
#include "tests/support/scripted_transport.h"

#include <filesystem>
#include <vector>

namespace {

const std::string content = "0123456789abcdefghij";  // 20 bytes: pieces 0-7, 8-15, 16-19
const unsigned long long pieceBytes = 8;

using Answer = ScriptedAnswer;

Answer piece(std::size_t first, std::size_t last, const std::string& of = content)
{
    return {206, "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(of.size()),
            of.substr(first, last - first + 1), "\"v1\""};
}

Answer status(int code, const std::string& contentRange = "", const std::string& body = "")
{
    return {code, contentRange, body, "", true};
}

using FileFetchThroughScriptedTransport = InGameDirectory;

namespace {

// One fetch: what an earlier start left, what the server answers, and what must come of it.
struct Fetch {
    const char* name;
    const ReleaseEntry* signedEntry;
    std::string partial;  // left by an earlier start, with its record
    std::vector<Answer> answers;
    bool downloaded;
    std::vector<std::string> asked;
    std::string partialLeft;  // "" when no partial file is left
};

}  // namespace

TEST_F(FileFetchThroughScriptedTransport, TakesOnlyWhatIsWholeAndAsked)
{
    const std::string digest = md5Hex(content);
    const ReleaseEntry signedRight{sha256Hex(content), 20, "data.pak"};
    const ReleaseEntry signedShorter{sha256Hex(content.substr(0, 12)), 12, "data.pak"};
    const std::string record = "orn-resume 1\ndata.pak\n" + digest + "\n20\nETag\n\"v1\"\n";
    Answer cut = piece(8, 15);
    cut.body.resize(3), cut.complete = false;
    const Answer overlong = status(200, "", content + "more than signed");
    const Fetch cases[] = {
        {"pieces in order",
         nullptr,
         "",
         {piece(0, 7), piece(8, 15), piece(16, 19)},
         true,
         {"0-7", "8-15", "16-23"},
         ""},
        {"a 200 to a range", nullptr, "", {status(200, "", content)}, true, {"0-7"}, ""},
        {"a short body keeps the whole pieces",
         nullptr,
         "",
         {piece(0, 7), cut},
         false,
         {"0-7", "8-15"},
         content.substr(0, 8)},
        {"less than asked is a break",
         nullptr,
         "",
         {piece(0, 7), piece(8, 8)},
         false,
         {"0-7", "8-15"},
         content.substr(0, 8)},
        {"resumed after the whole pieces",
         nullptr,
         content.substr(0, 8) + "xyz",
         {piece(8, 15), piece(16, 19)},
         true,
         {"8-15 If-Match: \"v1\"", "16-23 If-Match: \"v1\""},
         ""},
        {"412: changed meanwhile, from zero",
         nullptr,
         content.substr(0, 8),
         {status(412), piece(0, 7), piece(8, 15), piece(16, 19)},
         true,
         {"8-15 If-Match: \"v1\"", "0-7", "8-15", "16-23"},
         ""},
        {"already whole: nothing asked", nullptr, content, {}, true, {}, ""},
        {"416 for a file that is not empty", nullptr, "", {status(416, "bytes */20")}, false, {"0-7"}, ""},
        {"another total in the second piece",
         nullptr,
         "",
         {piece(0, 7), piece(8, 15, content + "x")},
         false,
         {"0-7", "8-15"},
         ""},
        {"wrong bytes", nullptr, "", {status(200, "", std::string(20, 'x'))}, false, {"0-7"}, ""},
        {"signed: pieces end at the signed size",
         &signedRight,
         "",
         {piece(0, 7), piece(8, 15), piece(16, 19)},
         true,
         {"0-7", "8-15", "16-19"},
         ""},
        {"signed: a 200 longer than signed", &signedRight, "", {overlong}, false, {"0-7"}, ""},
        {"signed: another total", &signedShorter, "", {piece(0, 7)}, false, {"0-7"}, ""},
    };
    // The same, whether the pieces after the first go pipelined or one at a time.
    for (const bool pipelining : {false, true}) {
        for (const Fetch& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (pipelining ? ", pipelined" : ""));
            write("data.pak", "earlier");
            if (!c.partial.empty()) {
                write("data.pak.orn-partial", c.partial);
                write("data.pak.orn-resume", record);
            }
            ScriptedTransport transport(c.answers);
            transport.pipelining = pipelining;
            const bool downloaded =
                downloadThrough(transport, {"/data.pak", "data.pak", digest, c.signedEntry, "data.pak"}, pieceBytes,
                                nullptr) == Downloaded::placed;
            EXPECT_EQ(downloaded, c.downloaded);
            EXPECT_EQ(transport.asked, c.asked);
            EXPECT_EQ(read("data.pak"), c.downloaded ? content : "earlier");
            EXPECT_EQ(read("data.pak.orn-partial"), c.partialLeft.empty() ? "<missing>" : c.partialLeft);
            EXPECT_EQ(std::filesystem::exists("data.pak.orn-resume"), !c.partialLeft.empty());
            std::filesystem::remove("data.pak.orn-partial");
            std::filesystem::remove("data.pak.orn-resume");
        }
    }
}

}  // namespace
