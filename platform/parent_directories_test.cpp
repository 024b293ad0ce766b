// Built natively and for Windows (run under Wine).
#include "platform/parent_directories.h"

#include "tests/support/game_directory.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class ParentDirectories : public InGameDirectory {};

TEST_F(ParentDirectories, AreCreatedInsideTheGameDirectory)
{
    EXPECT_TRUE(createParentDirectories("top.dat"));
    EXPECT_TRUE(createParentDirectories("libs/new/deep.dat"));
    EXPECT_TRUE(fs::is_directory(root / "libs/new"));
    EXPECT_FALSE(fs::exists(root / "libs/new/deep.dat"));
    EXPECT_TRUE(createParentDirectories("libs/new/other.dat")) << "existing directories are fine";

    write("plain", "a file");
    EXPECT_FALSE(createParentDirectories("plain/x.dat"));
}

}  // namespace
