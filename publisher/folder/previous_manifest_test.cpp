#include "publisher/folder/previous_manifest.h"

#include "tests/support/game_directory.h"

#include <string>
#include <vector>

namespace {

class PreviousManifest : public InGameDirectory {
protected:
    std::set<std::string> listed(const std::string& manifest, std::vector<std::string>& warnings)
    {
        write("md5sums", manifest);
        std::string failure;
        ChannelDirectory channel;
        EXPECT_TRUE(channel.open(root, failure)) << failure;
        return previouslyListed(channel, warnings);
    }
};

TEST_F(PreviousManifest, KeepsFilesOfTheChannelAndCountsWhatDoesNotParse)
{
    write("data.pak", "x");
    write("CR.pak", "x");
    const std::string digest(32, '0');
    const std::string other(32, '1');
    std::vector<std::string> warnings;
    const std::set<std::string> paths =
        listed(digest + "  data.pak\n" + digest + "  CR.pak\r\n" + digest + "  gone.pak\n" + digest + "  ../up\n" +
                   other + "  data.pak\n\n" + digest + "  after-the-stop.pak\n",
               warnings);
    EXPECT_EQ(paths, (std::set<std::string>{"CR.pak", "data.pak"}));
    ASSERT_EQ(warnings.size(), 1u);
    // ../up; data.pak's first line, which the later one overrides; the blank line and the one after it.
    EXPECT_NE(warnings[0].find("has 4 lines that do not parse (lines 1, 4, 6, 7)"), std::string::npos) << warnings[0];
}

TEST_F(PreviousManifest, ShowsTenLineNumbersHoweverManyLinesAreBad)
{
    std::string manifest;
    for (int line = 0; line < 100000; ++line)
        manifest += std::string(32, '0') + "  ../x\n";
    std::vector<std::string> warnings;
    EXPECT_TRUE(listed(manifest, warnings).empty());
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("has 100000 lines that do not parse (lines 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, ...)"),
              std::string::npos)
        << warnings[0];
}

}  // namespace
