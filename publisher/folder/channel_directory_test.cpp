#include "publisher/folder/channel_directory.h"

#include "publisher/folder/channel_files.h"
#include "publisher/folder/hard_links.h"
#include "tests/support/game_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A channel as a hostile web server may leave it: links planted where files
// and folders are expected, a FIFO, and a file of the deployer's outside it.
class ChannelDirectoryTest : public InGameDirectory {
protected:
    void SetUp() override
    {
        InGameDirectory::SetUp();
        fs::create_directories("channel/sub");
        fs::create_directories("outside");
        write("outside/precious", "the deployer's");
        write("channel/file", "published");
        write("channel/sub/inner", "inner");
        fs::create_symlink("../outside/precious", "channel/link-to-file");
        fs::create_symlink("../outside", "channel/link-to-folder");
        ASSERT_EQ(::mkfifo("channel/fifo", 0644), 0);
        std::string failure;
        ASSERT_TRUE(channel.open("channel", failure)) << failure;
    }

    void TearDown() override
    {
        EXPECT_EQ(read("outside/precious"), "the deployer's") << "reached through a link";
        InGameDirectory::TearDown();
    }

    ChannelDirectory channel;
};

TEST_F(ChannelDirectoryTest, OpensOnlyRegularFilesAndNeverFollowsALink)
{
    using Kind = ChannelDirectory::Kind;
    struct Case {
        const char* path;
        Kind kind;
        int refusedWith;  // 0: opens
    };
    const std::vector<Case> cases = {
        {"file", Kind::regular, 0},
        {"sub/inner", Kind::regular, 0},
        {"sub", Kind::directory, EINVAL},
        {"fifo", Kind::other, EINVAL},  // opened without blocking, then refused
        {"link-to-file", Kind::link, ELOOP},
        {"link-to-folder", Kind::link, ELOOP},
        // A link where a folder is expected ends the walk: O_DIRECTORY refuses it first.
        {"link-to-folder/precious", Kind::missing, ENOTDIR},
        {"absent", Kind::missing, ENOENT},
        {"absent-folder/file", Kind::missing, ENOENT},
        {"file/below-a-file", Kind::missing, ENOTDIR},
        {"", Kind::other, EINVAL},
        {"../outside/precious", Kind::other, EINVAL},
        {"sub/../file", Kind::other, EINVAL},
        {"sub//inner", Kind::other, EINVAL},
        {"sub/", Kind::other, EINVAL},
        {"/file", Kind::other, EINVAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(channel.kindOf(c.path), c.kind);
        errno = 0;
        const ScopedDescriptor file = channel.openForReading(c.path);
        EXPECT_EQ(file.get() >= 0 ? 0 : errno, c.refusedWith);
    }
    std::vector<std::string> names;
    EXPECT_TRUE(channel.list("sub", names));
    EXPECT_EQ(names, std::vector<std::string>{"inner"});
    EXPECT_FALSE(channel.list("link-to-folder", names));
}

TEST_F(ChannelDirectoryTest, ChangesNamesInsideTheChannelOnly)
{
    enum class Change { create, remove, makeFolders, link };
    struct Case {
        Change change;
        const char* path;
        const char* said;  // empty: done
    };
    const std::vector<Case> cases = {
        {Change::create, "link-to-file", ""},  // the link goes, not what it leads to
        {Change::create, "link-to-folder/new", "Not a directory"},
        {Change::create, "absent-folder/new", "No such file or directory"},
        {Change::remove, "link-to-folder", "not a regular file"},
        {Change::remove, "fifo", "not a regular file"},
        {Change::remove, "sub", "not a regular file"},
        {Change::remove, "link-to-folder/precious", "Not a directory"},
        {Change::remove, "sub/inner", ""},
        {Change::makeFolders, "new/deeper", ""},
        {Change::makeFolders, "link-to-folder/new", "Not a directory"},
        {Change::makeFolders, "file/new", "Not a directory"},
        {Change::makeFolders, "../new", "not a path in the channel"},
        {Change::link, "link-to-folder/second", "Not a directory"},
        {Change::link, "second", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string failure;
        bool done = false;
        if (c.change == Change::create)
            done = channel.createFresh(c.path, failure).get() >= 0;
        else if (c.change == Change::remove)
            done = channel.removeFile(c.path, failure);
        else if (c.change == Change::makeFolders)
            done = channel.makeDirectories(c.path, failure);
        else
            done = linkInChannel(channel, "file", c.path, failure);
        EXPECT_EQ(done, *c.said == '\0') << failure;
        EXPECT_NE(failure.find(c.said), std::string::npos) << failure;
    }
    EXPECT_EQ(read("channel/link-to-file"), "");
    EXPECT_EQ(fs::status("channel/new/deeper").permissions() & fs::perms::all, static_cast<fs::perms>(0755));
    EXPECT_EQ(read("channel/second"), "published");
    EXPECT_FALSE(fs::exists("outside/new"));
}

TEST_F(ChannelDirectoryTest, ReadsAWholeFileOfItsOwnWithinItsLimit)
{
    ASSERT_EQ(::link("outside/precious", "channel/hard-link"), 0);
    struct Case {
        const char* path;
        std::size_t limit;
        const char* said;  // empty: read
    };
    const std::vector<Case> cases = {
        {"file", 9, ""},
        {"file", 8, "larger than 8 bytes"},
        {"hard-link", 100, "a file with other names"},  // it could be the secret key
        {"link-to-file", 100, "a symbolic link is in the way"},
        {"fifo", 100, "not a regular file"},
        {"absent", 100, "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string text;
        std::string failure;
        bool missing = false;
        EXPECT_EQ(readWholeFile(channel, c.path, c.limit, text, missing, failure), *c.said == '\0') << failure;
        EXPECT_NE(failure.find(c.said), std::string::npos) << failure;
        EXPECT_EQ(missing, std::string(c.path) == "absent");
        EXPECT_EQ(text, *c.said == '\0' ? "published" : text);
    }
}

TEST_F(ChannelDirectoryTest, RefusesAChannelThatIsALink)
{
    for (const char* path : {"channel/link-to-folder", "channel/link-to-folder/", "channel/link-to-folder/."}) {
        SCOPED_TRACE(path);
        ChannelDirectory linked;
        std::string failure;
        EXPECT_FALSE(linked.open(path, failure));
        EXPECT_NE(failure.find("not a directory (a symbolic link is refused)"), std::string::npos) << failure;
    }
}

}  // namespace
