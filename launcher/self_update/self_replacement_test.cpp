// Built natively and for Windows (run under Wine): the same expectations
// hold for both implementations of the platform layer.
#include "launcher/self_update/self_replacement.h"

#include "launcher/console/terminal_console.h"
#include "platform/disk.h"
#include "platform/platform.h"
#include "tests/support/recording_console.h"
#include "tests/support/game_directory.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

TEST_F(InGameDirectory, SwapsInTheFlaggedFilesOnly)
{
    TerminalConsole console;  // the player's: failed moves on standard error
    for (const char* name : {"ORN_Launcher.exe", "physfs.dll", "sfml-network-2.dll", "sfml-system-2.dll"}) {
        write(name, std::string("old ") + name);
        write(std::string(name) + ".new", std::string("new ") + name);
    }
    testing::internal::CaptureStderr();
    swapInOwnFiles(9, console);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_EQ(read("ORN_Launcher.exe"), "new ORN_Launcher.exe");
    EXPECT_EQ(read("ORN_Launcher.exe.old"), "old ORN_Launcher.exe");
    EXPECT_EQ(read("physfs.dll"), "new physfs.dll");
    EXPECT_EQ(read("physfs.dll.old"), "old physfs.dll");
    EXPECT_FALSE(fs::exists("ORN_Launcher.exe.new"));
    EXPECT_EQ(read("sfml-network-2.dll"), "old sfml-network-2.dll");
    EXPECT_EQ(read("sfml-network-2.dll.new"), "new sfml-network-2.dll");
    EXPECT_FALSE(fs::exists("sfml-system-2.dll.old"));

#ifndef _WIN32
    fs::permissions("sfml-system-2.dll", fs::perms::owner_all);
#endif
    swapInOwnFiles(6, console);
    EXPECT_EQ(read("sfml-network-2.dll"), "new sfml-network-2.dll");
    EXPECT_EQ(read("sfml-system-2.dll"), "new sfml-system-2.dll");
#ifndef _WIN32
    EXPECT_EQ(fs::status("sfml-system-2.dll").permissions() & fs::perms::all, fs::perms::owner_all)
        << "the new copy keeps the mode of the file it replaces";
#endif
}

TEST_F(InGameDirectory, LeftoverOldFileBlocksBothMovesAndKeepsTheFileInUse)
{
    TerminalConsole console;  // the player's: failed moves on standard error
    write("sfml-network-2.dll", "in use");
    write("sfml-network-2.dll.old", "undeleted leftover");
    write("sfml-network-2.dll.new", "new");
    testing::internal::CaptureStderr();
    swapInOwnFiles(2, console);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to create sfml-network-2.dll.old: File exists\n"
                                                      "Failed to rename sfml-network-2.dll.new: File exists\n");
    EXPECT_EQ(read("sfml-network-2.dll"), "in use");
    EXPECT_EQ(read("sfml-network-2.dll.old"), "undeleted leftover");
    EXPECT_EQ(read("sfml-network-2.dll.new"), "new");
}

TEST_F(InGameDirectory, FailedSecondMoveRestoresTheOldFile)
{
    TerminalConsole console;  // the player's: failed moves on standard error
    write("ORN_Launcher.exe", "running launcher");
    testing::internal::CaptureStderr();
    swapInOwnFiles(1, console);  // no ORN_Launcher.exe.new to move into place
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Failed to rename ORN_Launcher.exe.new: No such file or directory\n");
    EXPECT_EQ(read("ORN_Launcher.exe"), "running launcher");
    EXPECT_FALSE(fs::exists("ORN_Launcher.exe.old"));
}

// A file held by another process (an antivirus scan of the new copy, the
// game holding a library): Windows refuses its rename with a sharing
// violation, which the fake disk plays as EBUSY for its first `refusals`.
class HeldFileDisk : public platform::SystemDiskCalls {
public:
    HeldFileDisk(std::string held, int refusals) : held_(std::move(held)), refusals_(refusals) {}
    bool keepOldCopy(const char* name, const char* oldName) override
    {
        return !refused(name) && SystemDiskCalls::keepOldCopy(name, oldName);
    }
    bool replaceFile(const char* existingName, const char* newName) override
    {
        return !refused(existingName) && SystemDiskCalls::replaceFile(existingName, newName);
    }

private:
    bool refused(const char* name)
    {
        if (held_ != name || refusals_ == 0)
            return false;
        --refusals_;
        errno = EBUSY;
        return true;
    }

    std::string held_;
    int refusals_;
};

TEST_F(InGameDirectory, AHeldFileIsTriedAgainAndTheLauncherIsNeverLeftMissing)
{
    struct Case {
        const char* held;
        int refusals;
        std::vector<std::string> told;
        const char* left;
    };
    const std::string busy = std::to_string(EBUSY);
    const Case cases[] = {
        {"ORN_Launcher.exe", 2, {"ORN_Launcher.exe held"}, "new"},
        {"ORN_Launcher.exe.new", 3, {"ORN_Launcher.exe.new held"}, "new"},
        {"ORN_Launcher.exe",
         1000,
         {"ORN_Launcher.exe held", "Failed to create ORN_Launcher.exe.old: " + busy,
          "Failed to rename ORN_Launcher.exe.new: " + std::to_string(EEXIST)},
         "running"},
        {"ORN_Launcher.exe.new",
         1000,
         {"ORN_Launcher.exe.new held", "Failed to rename ORN_Launcher.exe.new: " + busy},
         "running"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.held) + " refused " + std::to_string(c.refusals));
        write("ORN_Launcher.exe", "running");
        write("ORN_Launcher.exe.new", "new");
        fs::remove("ORN_Launcher.exe.old");
        HeldFileDisk disk(c.held, c.refusals);
        const platform::ScopedDisk held(disk);
        RecordingConsole console;
        swapInOwnFiles(1, console, 400);
        EXPECT_EQ(console.events, c.told);
        EXPECT_EQ(read("ORN_Launcher.exe"), c.left);
        const bool swapped = std::string(c.left) == "new";
        EXPECT_EQ(fs::exists("ORN_Launcher.exe.new"), !swapped);
        EXPECT_EQ(fs::exists("ORN_Launcher.exe.old"), swapped) << "the old copy is kept only by a swap made";
    }
}

TEST_F(InGameDirectory, PlatformMoveNeverReplacesAndRemoveNeverTakesDirectories)
{
    write("a", "a");
    write("b", "b");
    errno = 0;
    EXPECT_FALSE(platform::moveFileNoReplace("a", "b"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(read("a"), "a");
    EXPECT_EQ(read("b"), "b");
    EXPECT_FALSE(platform::moveFileNoReplace("absent", "c"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(platform::moveFileNoReplace("a", "c"));
    EXPECT_EQ(read("c"), "a");
    EXPECT_FALSE(fs::exists("a"));

    fs::create_directory("backup.old");
    EXPECT_FALSE(platform::removeFile("backup.old"));
    EXPECT_TRUE(fs::is_directory("backup.old"));
    EXPECT_TRUE(platform::removeFile("c"));
    EXPECT_FALSE(fs::exists("c"));
}

TEST_F(InGameDirectory, PauseReallyPauses)
{
    const auto start = std::chrono::steady_clock::now();
    platform::pauseMilliseconds(200);
    // Sleep's tick granularity on Windows may end it a little early, never much.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(180));
}

#ifndef _WIN32
TEST_F(InGameDirectory, ClientInTheCurrentDirectoryRunsAndItsStatusComesBack)
{
    write("ORN_Client.exe", "#!/bin/sh\necho ran > client.log\nexit 3\n");
    fs::permissions("ORN_Client.exe", fs::perms::owner_all);
    EXPECT_EQ(platform::runClient(), 3);
    EXPECT_EQ(read("client.log"), "ran\n");
}
#endif

}  // namespace
