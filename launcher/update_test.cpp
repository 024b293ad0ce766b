// The launcher's whole run up to the hand-over, driven through a scripted
// transport over a real game directory: what the player is told, what is
// asked of the server, and what is left on disk.
#include "launcher/update.h"

#include "channel/manifest.h"
#include "channel/own_files.h"
#include "channel/release_key.h"
#include "digest/md5.h"
#include "digest/sha256.h"
#include "index/game_directory.h"
#include "launcher/game_directory_lock.h"
#include "launcher/http/failover_transport.h"
#include "launcher/self_update/leftover_cleanup.h"
#include "platform/disk.h"
#include "platform/platform.h"
#include "tests/support/game_directory.h"
#include "tests/support/recording_console.h"
#include "tests/support/scripted_transport.h"
#include "tests/support/unit_test_release_key.h"

#include <physfs.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Files = std::map<std::string, std::string>;
using Events = std::vector<std::string>;

const std::string folder = "/ORN/latest/";
const Files release1 = {{"data.pak", "data 1"}, {"libs/engine.dll", "engine 1"}};

class UpdateRun : public InGameDirectory {
protected:
    void SetUp() override
    {
        InGameDirectory::SetUp();
        ASSERT_NE(PHYSFS_init(nullptr), 0);
        mountGameDirectory((root / "").string());
        std::filesystem::create_directory("libs");
    }

    void TearDown() override
    {
        PHYSFS_deinit();
        InGameDirectory::TearDown();
    }

    static void install(const Files& files)
    {
        for (const auto& file : files)
            write(file.first, file.second);
    }

    // The channel as a publish leaves it: no lock, md5sums, a release of
    // `serial` that signs it, and each file under its name.
    static void serve(ScriptedTransport& server, const Files& files, unsigned long long serial)
    {
        Release release;
        release.channel = "latest";
        release.serial = serial;
        std::string manifest;
        for (const auto& file : files) {
            manifest += manifestLine(md5Hex(file.second), file.first);
            release.files.push_back({sha256Hex(file.second), file.second.size(), file.first});
            server.route(folder + file.first, {answer(200, file.second)});
        }
        release.manifestSha256 = sha256Hex(manifest);
        server.route(folder + "update.lock", {answer(404)});
        server.route(folder + "release", {answer(200, signRelease(releaseBody(release), unitTestReleaseKey()))});
        server.route(folder + "md5sums", {answer(200, manifest)});
    }

    UpdateOutcome run(ScriptedTransport& server, const LaunchSettings& settings = signedSettings())
    {
        console.events.clear();
        return update(channel, settings, server, console);
    }

    static LaunchSettings signedSettings() { return {releaseKeyText(unitTestReleaseKey().publicPart), 1, true}; }

    static bool fetchedAnyFile(const ScriptedTransport& server)
    {
        return std::any_of(server.requests.begin(), server.requests.end(), [](const std::string& uri) {
            return uri != folder + "update.lock" && uri != folder + "release" && uri != folder + "md5sums";
        });
    }

    const UpdateChannel channel{{"127.0.0.1", 0, requestFloor}, "latest", folder, "update.lock", "md5sums"};
    RecordingConsole console;
};

const Events checked = {"connecting", "connected", "checking"};

Events after(Events events, const Events& more)
{
    events.insert(events.end(), more.begin(), more.end());
    return events;
}

const Files release2 = {{"data.pak", "data 2"}, {"libs/engine.dll", "engine 2"}};
const Files newLauncher = {{"data.pak", "data 1"}, {"libs/engine.dll", "engine 1"}, {"ORN_Launcher.exe", "new"}};
struct Ending {
    const char* name;
    Files served;
    std::function<void(ScriptedTransport&)> change;  // what differs from a sound channel
    Events told;
    bool retrieved;
    Files left;  // what the game directory holds after the run
};
// Each way a run ends, from a sound channel changed as `change` says.
const Ending endings[] = {
    {"all current", release1, nullptr, after(checked, {"no updates"}), true, release1},
    {"locked, then free",
     release1,
     [](ScriptedTransport& server) {
         server.route(folder + "update.lock", {answer(200, "since noon"), answer(404)});
     },
     {"connecting", "locked since since noon", "connected", "checking", "no updates"},
     true,
     release1},
    {"updated", release2, nullptr,
     after(checked, {"updates found", "* libs/engine.dll", "done", "* data.pak", "done", "launching"}), true, release2},
    {"one file failing",
     release2,
     [](ScriptedTransport& server) { server.route(folder + "data.pak", {answer(200, "forged")}); },
     after(checked, {"updates found", "* libs/engine.dll", "done", "* data.pak", "failed", "canceled"}),
     false,
     {{"data.pak", "data 1"}, {"libs/engine.dll", "engine 2"}}},
    {"a self-update",
     newLauncher,
     nullptr,
     after(checked, {"updates found", "* ORN_Launcher.exe", "done", "launching"}),
     true,
     {{"ORN_Launcher.exe", "old"}, {"ORN_Launcher.exe.new", "new"}}},
    {"no server",
     release2,
     [](ScriptedTransport& server) { server.route(folder + "update.lock", {}); },
     {"connecting", "no connection"},
     false,
     release1},
    {"a manifest cut short", release2,
     [](ScriptedTransport& server) { server.route(folder + "md5sums", {answer(200, "0123", false)}); },
     after(checked, {"server trouble"}), false, release1},
    {"a bad signature", release2,
     [](ScriptedTransport& server) {
         std::string text;
         fetchWholeText(server, folder + "release", 1 << 16, text);
         text.replace(text.find("serial 1"), 8, "serial 9");
         server.route(folder + "release", {answer(200, text)});
     },
     after(checked, {refusedEvent(Refusal::badSignature)}), false, release1},
    {"a manifest the release does not sign", release2,
     [](ScriptedTransport& server) {
         server.route(folder + "md5sums", {answer(200, manifestLine(md5Hex("data 3"), "data.pak"))});
     },
     after(checked, {refusedEvent(Refusal::manifestMismatch)}), false, release1},
    {"no release", release2, [](ScriptedTransport& server) { server.route(folder + "release", {answer(404)}); },
     after(checked, {refusedEvent(Refusal::releaseNotFetched)}), false, release1},
};

TEST_F(UpdateRun, TellsEachWayARunEnds)
{
    // The same story whether the files' requests go pipelined or one at a time.
    for (const bool pipelining : {false, true}) {
        for (const Ending& c : endings) {
            SCOPED_TRACE(std::string(c.name) + (pipelining ? ", pipelined" : ""));
            for (const auto& entry : std::filesystem::directory_iterator(root))
                std::filesystem::remove_all(entry.path());
            std::filesystem::create_directory(root / "libs");
            install(release1);
            write("ORN_Launcher.exe", "old");
            ScriptedTransport server;
            server.pipelining = pipelining;
            serve(server, c.served, 1);
            if (c.change)
                c.change(server);
            const UpdateOutcome outcome = run(server);
            EXPECT_EQ(console.events, c.told);
            EXPECT_EQ(outcome.retrieved, c.retrieved);
            EXPECT_EQ(outcome.ownFiles, c.served.count("ORN_Launcher.exe") != 0 ? ownFiles[0].bit : 0);
            for (const auto& file : c.left)
                EXPECT_EQ(read(root / file.first), file.second) << file.first;
            if (!c.retrieved && c.told.back() != "canceled") {
                EXPECT_FALSE(fetchedAnyFile(server));
            }
        }
    }
}

// A cache edge that still serves the release before the one installed:
// the player plays what is installed, and nothing is fetched.
TEST_F(UpdateRun, AnOlderReleaseIsNoUpdate)
{
    install(release1);
    ScriptedTransport current;
    serve(current, release2, 9);
    ASSERT_TRUE(run(current).retrieved);
    ScriptedTransport stale;
    serve(stale, release1, 8);
    EXPECT_TRUE(run(stale).retrieved);
    EXPECT_EQ(console.events, after(checked, {"older served, starting installed"}));
    EXPECT_FALSE(fetchedAnyFile(stale));
    EXPECT_EQ(read("data.pak"), "data 2");

    // The stale edge first, then a mirror still syncing (a newer release beside the old manifest): the same.
    ScriptedTransport syncing;
    serve(syncing, release2, 10);
    syncing.route(folder + "md5sums", {answer(200, manifestLine(md5Hex("data 3"), "data.pak"))});
    FailoverTransport both({&stale, &syncing});
    console.events.clear();
    EXPECT_TRUE(update(channel, signedSettings(), both, console).retrieved);
    EXPECT_EQ(console.events, after(checked, {"older served, starting installed"}));
    EXPECT_EQ(read("data.pak"), "data 2");

    write("data.pak", "changed by hand");  // then only the server's files would do, and they are older
    EXPECT_FALSE(run(stale).retrieved);
    EXPECT_EQ(console.events, after(checked, {refusedEvent(Refusal::olderSerial)}));
    EXPECT_FALSE(fetchedAnyFile(stale));
    EXPECT_EQ(read("data.pak"), "changed by hand");
}

// Two servers of one channel: what fails on the first (the run's view of
// a server down, stalled, busy, forged or still syncing) is asked of the
// second, which is kept from then on; the player is told the same as with
// one sound server. A lock that is not up (404) is no failure.
struct Mirrored {
    const char* name;
    std::function<void(ScriptedTransport&)> first;  // how the first server differs from a sound one
    std::vector<std::string> askedOfSecond;
    bool keys;
    // When files go pipelined, if not the same: those asked of the first with the one that failed are kept.
    std::vector<std::string> pipelinedAskedOfSecond = {};
};
const std::string lockUri = folder + "update.lock";
const std::string releaseUri = folder + "release";
const std::string manifestUri = folder + "md5sums";
const std::string engineUri = folder + "libs/engine.dll";
const std::string dataUri = folder + "data.pak";
const Mirrored mirrored[] = {
    {"the first down",
     [](ScriptedTransport& first) { first = ScriptedTransport(); },
     {lockUri, releaseUri, manifestUri, engineUri, dataUri},
     true},
    {"a stall before the release's body",
     [](ScriptedTransport& first) { first.route(releaseUri, {answer(200, "", false)}); },
     {releaseUri, manifestUri, engineUri, dataUri},
     true},
    {"a 5xx for the manifest",
     [](ScriptedTransport& first) { first.route(manifestUri, {answer(503, "busy")}); },
     {manifestUri, engineUri, dataUri},
     true},
    {"a body that fails its check",
     [](ScriptedTransport& first) { first.route(dataUri, {answer(200, "forged")}); },
     {dataUri},
     true},
    {"a body cut short",
     [](ScriptedTransport& first) { first.route(dataUri, {answer(200, "da", false)}); },
     {dataUri},
     true},
    {"a 404 from a mirror still syncing",
     [](ScriptedTransport& first) { first.route(engineUri, {answer(404)}); },
     {engineUri, dataUri},
     true,
     {engineUri}},
    {"a forged release",
     [](ScriptedTransport& first) {
         std::string text;
         fetchWholeText(first, releaseUri, 1 << 16, text);
         first.route(releaseUri, {answer(200, text.replace(text.find("serial 1"), 8, "serial 9"))});
     },
     {releaseUri, manifestUri, engineUri, dataUri},
     true},
    {"a release ahead of its manifest",
     [](ScriptedTransport& first) {
         first.route(manifestUri, {answer(200, manifestLine(md5Hex("data 1"), "data.pak"))});
     },
     {releaseUri, manifestUri, engineUri, dataUri},
     true},
    {"without keys, a mirror without the manifest",
     [](ScriptedTransport& first) { first.route(manifestUri, {answer(404)}); },
     {manifestUri, engineUri, dataUri},
     false},
};

TEST_F(UpdateRun, MirrorsPassOverWhatFailsAndKeepToTheServerThatAnswered)
{
    for (const auto& [c, pipelined] : [] {
             std::vector<std::pair<Mirrored, bool>> cases;
             for (const Mirrored& c : mirrored)
                 cases.insert(cases.end(), {{c, false}, {c, true}});
             return cases;
         }()) {
        SCOPED_TRACE(std::string(c.name) + (pipelined ? ", pipelined" : ""));
        install(release1);
        ScriptedTransport first;
        ScriptedTransport second;
        serve(first, release2, 1);
        serve(second, release2, 1);
        c.first(first);
        first.pipelining = second.pipelining = pipelined;
        FailoverTransport servers({&first, &second});
        console.events.clear();
        EXPECT_TRUE(
            update(channel, c.keys ? signedSettings() : LaunchSettings{"", 1, true}, servers, console).retrieved);
        EXPECT_EQ(console.events,
                  after(checked, {"updates found", "* libs/engine.dll", "done", "* data.pak", "done", "launching"}));
        EXPECT_EQ(read("data.pak"), "data 2");
        EXPECT_EQ(read("libs/engine.dll"), "engine 2");
        EXPECT_EQ(second.requests,
                  pipelined && !c.pipelinedAskedOfSecond.empty() ? c.pipelinedAskedOfSecond : c.askedOfSecond);
        EXPECT_EQ(servers.current(), 1u);
    }
}

// A launcher built without keys: the manifest alone decides, whatever the
// channel's release says or lacks, and no release is asked for or recorded.
TEST_F(UpdateRun, WithoutKeysTheManifestAloneDecides)
{
    const std::function<void(ScriptedTransport&)> releases[] = {
        [](ScriptedTransport& server) { server.route(folder + "release", {answer(404)}); },
        [](ScriptedTransport& server) { server.route(folder + "release", {answer(200, "forged")}); },
    };
    for (const auto& release : releases) {
        install(release1);
        ScriptedTransport server;
        serve(server, release2, 1);
        release(server);
        EXPECT_TRUE(run(server, {"", 1, true}).retrieved);
        EXPECT_EQ(console.events,
                  after(checked, {"updates found", "* libs/engine.dll", "done", "* data.pak", "done", "launching"}));
        EXPECT_EQ(read("data.pak"), "data 2");
        EXPECT_EQ(std::count(server.requests.begin(), server.requests.end(), folder + "release"), 0);
        EXPECT_FALSE(std::filesystem::exists("ORN_Launcher.accepted"));
        EXPECT_FALSE(std::filesystem::exists("ORN_Launcher.releases"));
    }
}

// The player's machine in the way: a file another program holds, a folder
// that takes no file, a volume without room for the signed sizes. Each is played by a disk that
// refuses as Windows and a full volume do; each run tells why, and loses nothing.
class TroubledDisk : public platform::SystemDiskCalls {
public:
    std::set<std::string> held;  // names that replaceFile may not be put over, `refusals` times in all
    int refusals = 0;
    bool readOnly = false;
    unsigned long long freeBytes = ~0ULL;

    bool replaceFile(const char* existingName, const char* newName) override
    {
        if (held.count(newName) != 0 && refusals > 0) {
            --refusals;
            errno = EBUSY;
            return false;
        }
        return SystemDiskCalls::replaceFile(existingName, newName);
    }
    void openForWriting(std::ofstream& file, const std::string& name) override
    {
        if (readOnly) {
            file.setstate(std::ios::failbit);
            errno = EACCES;
            return;
        }
        SystemDiskCalls::openForWriting(file, name);
    }
    bool freeDiskSpace(const char*, unsigned long long& bytes) override
    {
        bytes = freeBytes;
        return true;
    }
};

TEST_F(UpdateRun, TellsWhatOnThePlayersMachineStandsInTheWay)
{
    struct Case {
        const char* name;
        std::function<void(TroubledDisk&)> trouble;
        Events told;
        const char* left;  // data.pak's bytes after the run
        int fetchedNext;   // how often the next start asks for data.pak
    };
    const std::string readOnly = platform::fullFolderName("") + " not writable: " + std::to_string(EACCES);
    const Case cases[] = {
        {"held for a moment", [](TroubledDisk& disk) { disk.held = {"data.pak"}, disk.refusals = 2; },
         after(checked,
               {"updates found", "* libs/engine.dll", "done", "* data.pak", "data.pak held", "done", "launching"}),
         "data 2", 0},
        {"held for good", [](TroubledDisk& disk) { disk.held = {"data.pak"}, disk.refusals = 1000; },
         after(checked, {"updates found", "* libs/engine.dll", "done", "* data.pak", "data.pak held", "failed",
                         "data.pak still held", "canceled"}),
         "data 1", 0},
        {"every file held, the game running: one wait in all",
         [](TroubledDisk& disk) {
             disk.held = {"data.pak", "libs/engine.dll"}, disk.refusals = 1000;
         },
         after(checked, {"updates found", "* libs/engine.dll", "libs/engine.dll held", "failed",
                         "libs/engine.dll still held", "* data.pak", "failed", "data.pak still held", "canceled"}),
         "data 1", 0},
        {"a read-only folder", [](TroubledDisk& disk) { disk.readOnly = true; },
         after(checked, {"updates found", readOnly}), "data 1", 1},
        {"no room, told by the signed sizes", [](TroubledDisk& disk) { disk.freeBytes = 100; },
         after(checked, {"updates found", "not enough space: 4096 needed, 100 free"}), "data 1", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        install(release1);
        std::filesystem::remove("ORN_Launcher.digests");
        ScriptedTransport server;
        serve(server, release2, 1);
        TroubledDisk disk;
        c.trouble(disk);
        LaunchSettings settings = signedSettings();
        settings.heldFileWaitMilliseconds = 300;
        {
            const platform::ScopedDisk troubled(disk);
            EXPECT_EQ(run(server, settings).retrieved, c.told.back() == "launching");
        }
        EXPECT_EQ(console.events, c.told);
        EXPECT_EQ(read("data.pak"), c.left);
        if (std::none_of(c.told.begin(), c.told.end(), [](const std::string& event) { return event[0] == '*'; })) {
            EXPECT_FALSE(fetchedAnyFile(server)) << "told before the first byte";
        }
        // Once the trouble is gone the next start completes; a held file's copy is placed without a download.
        ScriptedTransport next;
        serve(next, release2, 1);
        EXPECT_TRUE(run(next, settings).retrieved);
        EXPECT_EQ(read("data.pak"), "data 2");
        EXPECT_EQ(std::count(next.requests.begin(), next.requests.end(), folder + "data.pak"), c.fetchedNext);
    }
}

TEST_F(UpdateRun, ASecondLauncherWaitsForTheFirstAndGivesUpInTime)
{
    platform::FileLock first;
    ASSERT_EQ(first.tryTake(launcherLockName), platform::FileLock::Outcome::taken);
    platform::FileLock second;
    EXPECT_FALSE(takeGameDirectory(second, console, 300, 50).ours);
    EXPECT_EQ(console.events, (Events{"other launcher running", "other launcher still running after 0"}));
    first.release();
    console.events.clear();
    EXPECT_TRUE(takeGameDirectory(second, console, 300, 50).locked);
    EXPECT_TRUE(console.events.empty());
}

// A kill between the two moves of a swap: the next start mends it before anything else.
TEST_F(UpdateRun, AStartAfterASwapCutShortPutsEveryOwnFileBack)
{
    struct Case {
        std::vector<const char*> present;  // each holds its own name
        const char* expected;              // what physfs.dll then holds
    };
    const Case cases[] = {
        {{"physfs.dll.old", "physfs.dll.new"}, "physfs.dll.new"},
        {{"physfs.dll.old"}, "physfs.dll.old"},
        {{"physfs.dll", "physfs.dll.old"}, "physfs.dll"},
        {{"physfs.dll", "physfs.dll.new"}, "physfs.dll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.present.size() == 1 ? c.present[0] : std::string(c.present[0]) + " and " + c.present[1]);
        for (const char* name : {"physfs.dll", "physfs.dll.old", "physfs.dll.new"})
            std::filesystem::remove(name);
        for (const char* name : c.present)
            write(name, name);
        removeLeftovers();
        EXPECT_EQ(read("physfs.dll"), c.expected);
        EXPECT_FALSE(std::filesystem::exists("physfs.dll.old"));
        EXPECT_FALSE(std::filesystem::exists("ORN_Launcher.exe")) << "nothing is made of what was never there";
    }
}

}  // namespace
