// Built natively and for Windows (run under Wine): which files an uninstall
// removes and which it leaves, over a real game directory mounted by PhysFS.
#include "launcher/uninstall/uninstall.h"

#include "channel/manifest.h"
#include "channel/release.h"
#include "digest/md5.h"
#include "digest/sha256.h"
#include "index/game_directory.h"
#include "index/installed_listing.h"
#include "launcher/release/accepted_release.h"
#include "platform/disk.h"
#include "platform/file_lock.h"
#include "publisher/keys/secret_key.h"
#include "tests/support/game_directory.h"
#include "tests/support/unit_test_release_key.h"

#include <physfs.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Events = std::multiset<std::string>;

// Each event as one short line, for the cases to compare with what they expect.
class RecordingUninstallConsole : public UninstallConsole {
public:
    void fileLeft(const std::string& path) override { events.insert("left " + path); }
    void fileNotRemoved(const std::string& path, int cause) override
    {
        events.insert("not removed " + path + ": " + std::to_string(cause));
    }
    void uninstallBlocked() override { events.insert("uninstall blocked"); }
    void uninstallEnded(const UninstallTally& tally) override
    {
        events.insert("uninstalled " + std::to_string(tally.removed) + " removed, " + std::to_string(tally.left) +
                      " left, " + std::to_string(tally.notRemoved) + " not removed" +
                      (tally.installedKnown ? "" : ", installed unknown"));
    }

    std::multiset<std::string> events;
};

class HoldingDisk : public platform::SystemDiskCalls {
public:
    std::string held;
    bool removeFile(const char* name) override
    {
        if (held == name) {
            errno = EBUSY;
            return false;
        }
        return SystemDiskCalls::removeFile(name);
    }
};

class Uninstall : public InGameDirectory {
protected:
    void SetUp() override
    {
        InGameDirectory::SetUp();
        ASSERT_NE(PHYSFS_init(nullptr), 0);
        mountGameDirectory((root / "").string());
    }

    void TearDown() override
    {
        PHYSFS_deinit();
        InGameDirectory::TearDown();
    }

    // The record a whole update leaves: signed, the release accepted; else the unsigned listing.
    static void recordInstalled(const std::map<std::string, std::string>& listed, bool signedBuild,
                                const SecretKey& key = unitTestReleaseKey())
    {
        std::unordered_map<std::string, std::string> digests;
        Release release;
        release.channel = "beta";
        release.serial = 7;
        std::string manifest;
        for (const auto& [path, content] : listed) {
            digests[path] = md5Hex(content);
            manifest += manifestLine(md5Hex(content), path);
            release.files.push_back({sha256Hex(content), content.size(), path});
        }
        release.manifestSha256 = sha256Hex(manifest);
        if (signedBuild)
            ASSERT_TRUE(recordAcceptedRelease(acceptedReleaseText(signRelease(releaseBody(release), key), manifest)));
        else
            ASSERT_TRUE(recordInstalledListing(digests));
    }

    static std::vector<ReleaseKey> keys() { return {unitTestReleaseKey().publicPart}; }

    Events uninstall(const std::vector<ReleaseKey>& trusted, int expectedStatus, unsigned int lockWait = 0)
    {
        RecordingUninstallConsole console;
        EXPECT_EQ(uninstallGame(trusted, console, lockWait), expectedStatus);
        return console.events;
    }
};

TEST_F(Uninstall, RemovesExactlyTheBytesItInstalledAndTellsEveryFileItLeaves)
{
    struct Case {
        const char* path;
        const char* onDisk;  // nullptr: not there
        const char* listed;  // nullptr: not in the record
        bool stays;
        bool told;  // as a player's file
    };
    const Case cases[] = {
        {"data.pak", "data", "data", false, false},
        {"libs/engine.dll", "engine", "engine", false, false},
        {"settings.cfg", "volume=3", "volume=10", true, true},    // the player changed it
        {"screenshot.png", "picture", nullptr, true, true},       // the player made it
        {"saves/slot1.dat", "progress", "progress", true, true},  // no update writes below the top and libs/
        {"libs/mods/extra.dll", "mod", "mod", true, true},
        {"md5sums", "listing", "listing", true, true},              // never a file the launcher fetches
        {"ORN_Launcher.exe", "launcher", "launcher", true, false},  // the uninstaller's, after it ends
        {"sfml-system-2.dll", "library", "library", true, false},
        {"ORN_Launcher.exe.old", "old launcher", nullptr, false, false},
        {"physfs.dll.new", "new library", nullptr, false, false},
        {"ORN_Launcher.digests", "digests", nullptr, false, false},
        {"ORN_Launcher.releases", "7 beta", nullptr, false, false},
        {"ORN_Launcher.log", "log", nullptr, false, false},
        {"ORN_Launcher.id", "id", nullptr, false, false},
        {"big.pak.orn-partial", "part", nullptr, false, false},
        {"libs/huge.dll.orn-resume", "resume", nullptr, false, false},
        {"readme.old", "a player's", nullptr, true, true},  // exact names only
        {"gone.pak", nullptr, "gone", false, false},        // listed, deleted since
    };
    for (const bool signedBuild : {false, true}) {
        SCOPED_TRACE(signedBuild ? "signed" : "unsigned");
        std::map<std::string, std::string> listed;
        Events expected;
        unsigned int left = 0;
        unsigned int removed = 2;  // the record of what was installed, and the lock
        for (const Case& file : cases) {
            if (fs::path(file.path).has_parent_path())
                fs::create_directories(fs::path(file.path).parent_path());
            if (file.onDisk != nullptr)
                write(file.path, file.onDisk);
            if (file.listed != nullptr)
                listed[file.path] = file.listed;
            if (file.told)
                expected.insert(std::string("left ") + file.path);
            left += file.told ? 1 : 0;
            removed += file.onDisk != nullptr && !file.stays ? 1 : 0;
        }
        recordInstalled(listed, signedBuild);
        expected.insert("uninstalled " + std::to_string(removed) + " removed, " + std::to_string(left) +
                        " left, 0 not removed");
        EXPECT_EQ(uninstall(keys(), 0), expected);
        for (const Case& file : cases)
            EXPECT_EQ(fs::exists(file.path), file.stays) << file.path;
        EXPECT_FALSE(fs::exists("ORN_Launcher.accepted") || fs::exists("ORN_Launcher.installed") ||
                     fs::exists("ORN_Launcher.lock"));
        EXPECT_TRUE(fs::exists("libs")) << "it still holds a mod";
        for (const auto& entry : fs::directory_iterator(root))
            fs::remove_all(entry.path());
    }
}

TEST_F(Uninstall, WhatItCannotTrustOrRemoveStaysAndIsTold)
{
    const std::map<std::string, std::string> game = {{"data.pak", "data"}, {"libs/engine.dll", "engine"}};
    const auto install = [this, &game] {
        fs::create_directory("libs");
        for (const auto& [path, content] : game)
            write(path, content);
    };

    install();  // an accepted record signed by a key the build does not trust: nothing known
    recordInstalled(game, true, generateSecretKey());
    EXPECT_EQ(uninstall(keys(), 0), Events({"left data.pak", "left libs/engine.dll",
                                            "uninstalled 2 removed, 2 left, 0 not removed, installed unknown"}));

    install();  // another launcher updates: nothing is touched
    recordInstalled(game, false);
    platform::FileLock other;
    ASSERT_EQ(other.tryTake("ORN_Launcher.lock"), platform::FileLock::Outcome::taken);
    EXPECT_EQ(uninstall({}, 1), Events({"uninstall blocked"}));
    EXPECT_TRUE(fs::exists("data.pak") && fs::exists("ORN_Launcher.installed"));
    other.release();

    HoldingDisk disk;  // the running client holds a file: the rest goes, the status says it did not all
    disk.held = "libs/engine.dll";
    {
        const platform::ScopedDisk holding(disk);
        EXPECT_EQ(uninstall({}, 1), Events({"not removed libs/engine.dll: " + std::to_string(EBUSY),
                                            "uninstalled 2 removed, 0 left, 1 not removed"}));
    }
    EXPECT_FALSE(fs::exists("data.pak"));
    EXPECT_TRUE(fs::exists("libs/engine.dll"));
    // Once the game is closed, the next uninstall still knows the file: its record stayed.
    EXPECT_EQ(uninstall({}, 0), Events({"uninstalled 3 removed, 0 left, 0 not removed"}));
    EXPECT_FALSE(fs::exists("libs"));
#ifndef _WIN32
    const fs::path outside = root.string() + ".outside";
    const fs::path outsideFile = root.string() + ".data";
    fs::create_directory(outside);
    write(outside / "engine.dll", "engine");
    write(outsideFile, "data");
    fs::create_directory_symlink(outside, "libs");  // the game's data moved to another disk
    fs::create_symlink(outsideFile, "data.pak");
    write("linked.pak", "data");
    recordInstalled({{"data.pak", "data"}, {"libs/engine.dll", "engine"}, {"linked.pak", "data"}}, false);
    mountGameDirectory((root / "").string());
    EXPECT_EQ(uninstall({}, 0),
              Events({"left data.pak", "left libs/engine.dll", "uninstalled 3 removed, 2 left, 0 not removed"}));
    EXPECT_TRUE(fs::is_symlink("data.pak") && fs::is_symlink("libs") && fs::exists(outsideFile))
        << "a link is the player's, and so is what it names";
    EXPECT_TRUE(fs::exists(outside / "engine.dll")) << "behind a libs link: maybe another game's, never removed";
    fs::remove_all(outside);
    fs::remove(outsideFile);
#endif
}

}  // namespace
