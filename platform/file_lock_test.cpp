// Built natively and for Windows (run under Wine): a lock between two
// launchers, and the retry of a file that another program holds.
#include "platform/file_lock.h"

#include "platform/held_file_retry.h"
#include "platform/platform.h"
#include "tests/support/game_directory.h"

#include <cerrno>
#include <filesystem>

namespace {

using platform::FileLock;

TEST_F(InGameDirectory, OneLockHolderAtATimeAndTheFileStays)
{
    FileLock first;
    FileLock second;
    EXPECT_EQ(first.tryTake("game.lock"), FileLock::Outcome::taken);
    EXPECT_EQ(second.tryTake("game.lock"), FileLock::Outcome::heldElsewhere);
    first.release();
    EXPECT_EQ(second.tryTake("game.lock"), FileLock::Outcome::taken);
    EXPECT_TRUE(std::filesystem::exists("game.lock"));
    EXPECT_EQ(first.tryTake("no such folder/game.lock"), FileLock::Outcome::unavailable);
}

TEST_F(InGameDirectory, AHeldFileIsTriedAgainWithinItsWindowOnly)
{
    struct Case {
        const char* name;
        int heldFor;     // attempts refused as held
        int otherCause;  // then refused so, 0: none
        bool placed;
        int attempts;
        bool told;
    };
    const Case cases[] = {
        {"free at once", 0, 0, true, 1, false},
        {"let go after a while", 3, 0, true, 4, true},
        {"held past the window", 1000, 0, false, 5, true},  // 100 + 200 + 400 + 300 ms of 1000
        {"another failure", 1, ENOENT, false, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int attempts = 0;
        bool told = false;
        const bool placed = platform::retryWhileHeld(
            [&] {
                ++attempts;
                if (attempts <= c.heldFor) {
                    errno = EBUSY;
                    return false;
                }
                errno = c.otherCause;
                return c.otherCause == 0;
            },
            [&] { told = true; }, 1000);
        EXPECT_EQ(placed, c.placed);
        EXPECT_EQ(attempts, c.attempts);
        EXPECT_EQ(told, c.told);
    }
}

TEST_F(InGameDirectory, TheOldCopyIsKeptOnceAndNeverOverAnother)
{
    write("launcher", "running");
    ASSERT_TRUE(platform::keepOldCopy("launcher", "launcher.old"));
    EXPECT_EQ(read("launcher.old"), "running");
#ifndef _WIN32
    EXPECT_EQ(read("launcher"), "running") << "a second link: the name is never missing";
#endif
    write("launcher", "running");
    errno = 0;
    EXPECT_FALSE(platform::keepOldCopy("launcher", "launcher.old"));
    EXPECT_EQ(errno, EEXIST);
}

}  // namespace
