#include "digest/md5.h"
#include "index/file_index.h"

#include <gtest/gtest.h>
#include <physfs.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#ifdef __linux__
#include <sys/inotify.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const std::string stale = "00000000000000000000000000000000";

// A real temporary directory mounted at the root of PhysFS, as the launcher
// mounts its base directory.
class ScanDirectory : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(PHYSFS_init(nullptr), 0); }
    static void TearDownTestSuite() { PHYSFS_deinit(); }

    void SetUp() override
    {
        char pattern[] = "/tmp/scan_directory_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        ASSERT_NE(PHYSFS_mount(root.c_str(), nullptr, 1), 0);
    }

    void TearDown() override
    {
        PHYSFS_unmount(root.c_str());
        fs::remove_all(root);
    }

    void write(const std::string& path, const std::string& content)
    {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path, std::ios::binary) << content;
    }

    static std::string manifest(std::initializer_list<std::string> paths)
    {
        std::string text;
        for (const std::string& path : paths)
            text += stale + "  " + path + "\n";
        return text;
    }

    static std::string md5sumOf(const fs::path& file)
    {
        const std::string command = "md5sum '" + file.string() + "'";
        FILE* pipe = popen(command.c_str(), "r");
        char digest[33] = {};
        const size_t got = pipe ? fread(digest, 1, 32, pipe) : 0;
        if (pipe)
            pclose(pipe);
        return std::string(digest, got);
    }

    fs::path root;
};

TEST_F(ScanDirectory, HashesListedFilesAtTheTopLevelAndInLibs)
{
    const std::string binary("MZ\0\0\x90\xff payload\r\n", 15);
    write("ORN_Client.exe", binary);
    write("libs/engine.dll", "engine");
    write("libs/sub/deep.dat", "deep");

    FileIndex index(manifest({"ORN_Client.exe", "libs/engine.dll", "libs/sub/deep.dat", "absent.dat"}));
    index.scanDirectory("libs/");
    index.scanDirectory("");

    EXPECT_EQ(index.localDigests.size(), 2u);
    EXPECT_EQ(index.localDigests.at("ORN_Client.exe"), md5Hex(binary));
    EXPECT_EQ(index.localDigests.at("libs/engine.dll"), md5Hex("engine"));
    EXPECT_EQ(index.localDigests.count("libs/sub/deep.dat"), 0u) << "one level only";
    EXPECT_EQ(index.localDigests.count("absent.dat"), 0u);
}

TEST_F(ScanDirectory, KeysAreByteExact)
{
    write("Data.pak", "data");
    write("crlf.txt", "x");
    FileIndex index(manifest({"data.pak", "crlf.txt\r", "DATA.PAK"}));
    index.scanDirectory("");
    EXPECT_TRUE(index.localDigests.empty());
}

TEST_F(ScanDirectory, EmptyFilesAreCurrentButDirectoriesGetNoDigest)
{
    write("empty.cfg", "");
    write("libs/x.dll", "x");
    FileIndex index(manifest({"empty.cfg", "libs"}));
    index.scanDirectory("");
    EXPECT_EQ(index.localDigests.at("empty.cfg"), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(index.localDigests.at("libs"), "");
}

TEST_F(ScanDirectory, MissingLibsDirectoryAndRepeatedScans)
{
    write("a.dat", "first");
    FileIndex index(manifest({"a.dat", "libs/b.dll"}));
    index.scanDirectory("libs/");
    EXPECT_TRUE(index.localDigests.empty());

    index.scanDirectory("");
    write("a.dat", "second");
    index.scanDirectory("");
    EXPECT_EQ(index.localDigests.size(), 1u);
    EXPECT_EQ(index.localDigests.at("a.dat"), md5Hex("second"));
}

TEST_F(ScanDirectory, HashesAcrossReadPiecesWithNulBytes)
{
    std::string content((3u << 20) + 12345, '\0');
    for (std::size_t i = 0; i < content.size(); i += 4093)
        content[i] = static_cast<char>(i);
    write("big.pak", content);
    FileIndex index(manifest({"big.pak"}));
    index.scanDirectory("");
    EXPECT_EQ(index.localDigests.at("big.pak"), md5Hex(content));
    EXPECT_EQ(index.localDigests.at("big.pak"), md5sumOf(root / "big.pak"));
}

#ifdef __linux__
// sysfs reports 4096 bytes for an attribute that reads as a few: a real
// short read. Hashing the zero fill after it would fake a digest.
TEST_F(ScanDirectory, ShortReadGivesNoDigest)
{
    const char* const kernel = "/sys/kernel";
    if (!fs::exists(fs::path(kernel) / "address_bits") || fs::file_size(fs::path(kernel) / "address_bits") == 0)
        GTEST_SKIP() << "no sysfs attribute to read";
    ASSERT_NE(PHYSFS_mount(kernel, nullptr, 1), 0);
    FileIndex index(manifest({"address_bits"}));
    index.scanDirectory("");
    PHYSFS_unmount(kernel);
    EXPECT_EQ(index.localDigests.at("address_bits"), "");
}

TEST_F(ScanDirectory, UnlistedFilesAreNeverOpened)
{
    write("listed.dat", "a");
    write("unlisted.dat", "b");
    write("libs/unlisted.dll", "c");

    const int watcher = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(watcher, 0);
    ASSERT_GE(inotify_add_watch(watcher, root.c_str(), IN_OPEN), 0);
    ASSERT_GE(inotify_add_watch(watcher, (root / "libs").c_str(), IN_OPEN), 0);

    FileIndex index(manifest({"listed.dat"}));
    index.scanDirectory("libs/");
    index.scanDirectory("");

    std::set<std::string> opened;
    alignas(inotify_event) char events[4096];
    ssize_t length;
    while ((length = read(watcher, events, sizeof events)) > 0) {
        for (char* at = events; at < events + length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->len > 0 && (event->mask & IN_ISDIR) == 0)
                opened.insert(event->name);
            at += sizeof(inotify_event) + event->len;
        }
    }
    close(watcher);
    EXPECT_EQ(opened, std::set<std::string>{"listed.dat"});
}
#endif

// A sparse file past 4 GiB: a 32-bit size would wrap and give a wrong digest.
TEST_F(ScanDirectory, FileLargerThanFourGibibytesGetsItsTrueDigest)
{
    const fs::path big = root / "huge.pak";
    {
        std::ofstream out(big, std::ios::binary);
        out << "start";
        out.seekp((std::streamoff{4} << 30) + 4096);
        out << "end";
    }
    ASSERT_GT(fs::file_size(big), std::uintmax_t{1} << 32);
    FileIndex index(manifest({"huge.pak"}));
    index.scanDirectory("");
    EXPECT_EQ(index.localDigests.at("huge.pak"), md5sumOf(big));
}

}  // namespace
