#include "publisher/folder/wrong_folders.h"

#include "tests/support/game_directory.h"

#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class WrongFolders : public InGameDirectory {
protected:
    void SetUp() override
    {
        InGameDirectory::SetUp();
        for (const char* folder : {"release/libs", "web/ORN/latest/by-hash", "web/ORN/plain", "web/ORN/empty"})
            fs::create_directories(folder);
        write("release/data.pak", "data");
        write("web/ORN/latest/md5sums", "");
        write("web/ORN/plain/index.html", "the web root's own");
    }
};

TEST_F(WrongFolders, AreTold)
{
    struct Case {
        const char* source;
        const char* channel;
        bool newChannel;
        const char* said;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {"release", "web/ORN/latest", false, ""},
        {"release", "web/ORN/empty", false, ""},
        {"release", "web/ORN/beta", true, ""},
        {"release", "web/ORN/plain", true, ""},
        {"release", "web/ORN/beta", false, "beside it are the channels latest: a mistyped name?"},
        {"release", "web/ORN/beta/", false, "a mistyped name?"},
        {"release", "web/ORN/latest/beta", true, "lies inside the channel"},
        {"release", "web/ORN/latest/by-hash/", true, "web/ORN/latest: their publishes"},
        {"release", "web/ORN", false, "it holds the channels latest: give one of them"},
        {"release", "web/ORN/plain", false, "is not empty and is no channel"},
        {"release", "release/", false, "is the release tree"},
        {"release", "release/../release/libs", false, "lies inside the release tree"},
        {"web/ORN/latest/by-hash", "web/ORN/latest", false, "lies inside the channel"},
        {"web/ORN/latest", "release", false, "did you swap SOURCE and CHANNEL?"},
        {"release", "web/new/latest", false, ""},  // the first channel of all, folders made as needed
    };
    for (const Case& c : cases) {
        const std::string said = wrongFolders(c.source, c.channel, c.newChannel);
        if (std::string(c.said).empty())
            EXPECT_EQ(said, "") << c.source << " into " << c.channel;
        else
            EXPECT_NE(said.find(c.said), std::string::npos) << c.source << " into " << c.channel << ": " << said;
    }
}

}  // namespace
