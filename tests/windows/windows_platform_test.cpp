// What only Windows can show: moving the running executable and a loaded
// DLL aside, and the client found through the command interpreter. The
// portable expectations of the platform layer are in
// launcher/self_replacement_test.cpp, linked into this executable.
#include "platform/platform.h"
#include "launcher/console/terminal_console.h"
#include "launcher/self_update/self_replacement.h"

#include "tests/support/game_directory.h"

#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path ownExecutable()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

// Runs a copy of this test executable, placed as "ORN_Launcher.exe" in the
// current directory, in one of its child modes; returns its exit status.
int runAsLauncher(const char* mode)
{
    fs::copy_file(ownExecutable(), "ORN_Launcher.exe", fs::copy_options::overwrite_existing);
    return static_cast<int>(_spawnl(_P_WAIT, "ORN_Launcher.exe", "ORN_Launcher.exe", mode, nullptr));
}

class InScratchDirectory : public InGameDirectory {};

TEST_F(InScratchDirectory, RunningExecutableAndLoadedLibraryAreSwappedForTheirNewCopies)
{
    const std::string launcherBytes = read(ownExecutable());
    const fs::path library = ownExecutable().parent_path() / "platform_test_library.dll";
    const std::string libraryBytes = read(library);
    ASSERT_NE(libraryBytes, "<missing>");
    fs::copy_file(library, "physfs.dll");
    write("ORN_Launcher.exe.new", "new launcher");
    write("physfs.dll.new", "new library");

    EXPECT_EQ(runAsLauncher("--swap-self"), 0);

    EXPECT_EQ(read("ORN_Launcher.exe"), "new launcher");
    EXPECT_EQ(read("ORN_Launcher.exe.old"), launcherBytes);
    EXPECT_EQ(read("physfs.dll"), "new library");
    EXPECT_EQ(read("physfs.dll.old"), libraryBytes);
    EXPECT_FALSE(fs::exists("ORN_Launcher.exe.new"));
    EXPECT_FALSE(fs::exists("physfs.dll.new"));
}

TEST_F(InScratchDirectory, ClientInTheCurrentDirectoryRunsAndItsStatusIsPassedToExit)
{
    fs::copy_file(ownExecutable().parent_path() / "fake_client.exe", "ORN_Client.exe");
    EXPECT_EQ(platform::runClient(), 3);
    EXPECT_EQ(runAsLauncher("--patch-and-launch"), 3);
}

// The child modes: what the launcher does at its end, run from a copy of
// this executable named ORN_Launcher.exe.
int runChildMode(const std::string& mode)
{
    if (mode == "--swap-self") {
        // Loaded from the executable's own directory, as the launcher loads its libraries.
        HMODULE library = LoadLibraryA("physfs.dll");
        if (library == nullptr)
            return 10;
        TerminalConsole console;
        swapInOwnFiles(1 | 8, console);
        const bool stillLoaded = GetProcAddress(library, "platformTestLibraryValue") != nullptr;
        return stillLoaded ? 0 : 11;
    }
    if (mode == "--patch-and-launch") {
        TerminalConsole console;
        patchAndLaunch(0, console, nullptr);
    }
    return 12;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strncmp(argv[1], "--gtest", 7) != 0 && std::strncmp(argv[1], "--", 2) == 0)
        return runChildMode(argv[1]);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

namespace {

class LargeFile : public InGameDirectory {};

// A delta download reads its old copy at any offset: past 4 GiB too, on the 32-bit build as well.
TEST_F(LargeFile, IsReadAtOffsetsPastFourGibibytes)
{
    const unsigned long long size = (5ULL << 30) + 7;
    const unsigned long long markerAt = (4ULL << 30) + 3;
    ASSERT_TRUE(std::ofstream("big.pak").good());
    ASSERT_TRUE(platform::truncateFile("big.pak", size));  // sparse: no 5 GiB are written
    const HANDLE file =
        CreateFileW(L"big.pak", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(markerAt & 0xffffffffu);
    at.OffsetHigh = static_cast<DWORD>(markerAt >> 32);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "marker", 6, &written, &at) && written == 6);
    CloseHandle(file);

    platform::FileReader reader;
    ASSERT_TRUE(reader.open("big.pak"));
    char read[6] = {};
    ASSERT_TRUE(reader.readAt(markerAt, read, sizeof read));
    EXPECT_EQ(std::string(read, sizeof read), "marker");
    EXPECT_EQ(reader.readSomeAt(size - 2, read, sizeof read), 2);
    EXPECT_EQ(reader.readSomeAt(size, read, sizeof read), 0);
    EXPECT_FALSE(reader.readAt(size - 2, read, sizeof read));
    platform::FileReader missing;
    EXPECT_FALSE(missing.open("missing.pak"));
}

}  // namespace
