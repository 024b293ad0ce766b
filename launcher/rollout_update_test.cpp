// Staged rollouts as one game directory meets them, start after start,
// through a scripted transport over a real game directory: which release it
// takes at each share, and that it is never sent back nor refused.
#include "launcher/update.h"

#include "channel/content_address.h"
#include "channel/manifest.h"
#include "channel/release_check.h"
#include "channel/release_key.h"
#include "channel/rollout.h"
#include "digest/md5.h"
#include "digest/sha256.h"
#include "index/game_directory.h"
#include "tests/support/game_directory.h"
#include "tests/support/recording_console.h"
#include "tests/support/scripted_transport.h"
#include "tests/support/unit_test_release_key.h"

#include <physfs.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Files = std::map<std::string, std::string>;
const std::string folder = "/ORN/latest/";
const Files current = {{"data.pak", "data 1"}, {"libs/engine.dll", "engine 1"}};
const Files staged = {{"data.pak", "data 2"}, {"libs/engine.dll", "engine 1"}};

std::string manifestOf(const Files& files)
{
    std::string manifest;
    for (const auto& file : files)
        manifest += manifestLine(md5Hex(file.second), file.first);
    return manifest;
}

// The release of `files` at `serial`; its manifest and files as objects too.
Release releaseOf(ScriptedTransport& server, const Files& files, unsigned long long serial, bool isStaged)
{
    Release release;
    release.staged = isStaged;
    release.channel = "latest";
    release.serial = serial;
    const std::string manifest = manifestOf(files);
    release.manifestSha256 = sha256Hex(manifest);
    for (const auto& file : files) {
        release.files.push_back({sha256Hex(file.second), file.second.size(), file.first});
        server.route(folder + objectPathOf(sha256Hex(file.second)), {answer(200, file.second)});
    }
    release.files.push_back(contentAddressMarker(release.manifestSha256, manifest.size()));
    server.route(folder + objectPathOf(release.manifestSha256), {answer(200, manifest)});
    return release;
}

// The channel during a rollout: `current` under its usual names and in
// `release` at `serial`, which stages `staged` at serial + 1 to `share`.
// An empty share: no rollout, `staged` is the channel's release.
void serve(ScriptedTransport& server, unsigned long long serial, const char* share,
           const SecretKey& key = unitTestReleaseKey())
{
    server.route(folder + "update.lock", {answer(404)});
    const bool completed = *share == '\0';
    const Files& published = completed ? staged : current;
    Release release = releaseOf(server, published, serial, false);
    for (const auto& file : published)
        server.route(folder + file.first, {answer(200, file.second)});
    server.route(folder + "md5sums", {answer(200, manifestOf(published))});
    if (!completed) {
        const std::string stagedText = signRelease(releaseBody(releaseOf(server, staged, serial + 1, true)), key);
        Rollout rollout;
        rollout.stagedSha256 = sha256Hex(stagedText);
        rollout.stagedSize = stagedText.size();
        rollout.stagedManifestSha256 = sha256Hex(manifestOf(staged));
        parseSharePercent(share, rollout.sharePpm);
        release.files.push_back(rolloutEntry(rollout));
        server.route(folder + objectPathOf(rollout.stagedSha256), {answer(200, stagedText)});
    }
    server.route(folder + "release", {answer(200, signRelease(releaseBody(release), key))});
}

class RolloutRun : public InGameDirectory {
protected:
    void SetUp() override
    {
        InGameDirectory::SetUp();
        ASSERT_NE(PHYSFS_init(nullptr), 0);
        mountGameDirectory((root / "").string());
        std::filesystem::create_directory("libs");
        for (const auto& file : current)
            write(file.first, file.second);
    }

    void TearDown() override
    {
        PHYSFS_deinit();
        InGameDirectory::TearDown();
    }

    bool start(ScriptedTransport& server)
    {
        const LaunchSettings settings{releaseKeyText(unitTestReleaseKey().publicPart), 1, true};
        RecordingConsole console;
        return update(channel, settings, server, console).retrieved;
    }

    const UpdateChannel channel{{"127.0.0.1", 0, requestFloor}, "latest", folder, "update.lock", "md5sums"};
};

// One start: the share then, and what the game directory holds after it.
struct Start {
    const char* share;  // "" once completed
    std::string data;
    const char* forgery = "";  // how the server differs from a sound one
};

const std::string takes = "data 2";
const std::string keeps = "data 1";

struct Player {
    const char* name;
    const char* place;  // the install id's first 8 hex digits; "" for none yet
    std::vector<Start> starts;
};

const Player players[] = {
    {"in the first quarter", "20000000", {{"25", takes}, {"60", takes}, {"0", takes}, {"", takes}}},
    {"joins at 60%", "80000000", {{"25", keeps}, {"60", takes}, {"0", takes}, {"", takes}}},
    {"outside until completed", "f0000000", {{"25", keeps}, {"60", keeps}, {"0", keeps}, {"", takes}}},
    {"loses its id after taking it", "20000000", {{"25", takes}, {"0", takes, "lose id"}, {"", takes}}},
    {"an id made on the first start", "", {{"100", takes}, {"", takes}}},
    {"a forged staged object", "20000000", {{"25", keeps, "forge staged"}, {"25", takes}, {"0", takes}}},
    {"the staged release served as the channel's", "f0000000", {{"25", keeps}, {"25", keeps, "staged as release"}}},
    {"the staged manifest missing before it took it", "20000000", {{"25", keeps, "no staged manifest"}}},
    {"the staged release missing after it took it", "20000000", {{"25", takes}, {"60", takes, "no staged release"}}},
};

// The rollout that the release `server` serves names.
Rollout servedRollout(ScriptedTransport& server)
{
    std::string text;
    fetchWholeText(server, folder + "release", 1 << 16, text);
    Release release;
    Rollout rollout;
    EXPECT_TRUE(readSignedRelease(text, {unitTestReleaseKey().publicPart}, release) && rolloutOf(release, rollout));
    return rollout;
}

TEST_F(RolloutRun, EachDirectoryTakesItsShareAndIsNeverSentBack)
{
    for (const Player& player : players) {
        SCOPED_TRACE(player.name);
        std::filesystem::remove(installIdFileName);
        if (*player.place != '\0')
            write(installIdFileName, std::string(player.place) + std::string(24, '0') + "\n");
        unsigned long long serial = 10;
        for (const Start& step : player.starts) {
            SCOPED_TRACE(std::string("share ") + step.share);
            serial += 2;
            ScriptedTransport server;
            serve(server, serial, step.share);
            const std::string forgery = step.forgery;
            bool refused = false;
            if (forgery == "lose id") {
                std::filesystem::remove(installIdFileName);
            } else if (forgery == "forge staged") {
                server.route(folder + objectPathOf(servedRollout(server).stagedSha256),
                             {answer(200, "orn-staged-release 1\n")});
            } else if (forgery == "no staged release") {
                server.route(folder + objectPathOf(servedRollout(server).stagedSha256), {answer(404)});
            } else if (forgery == "no staged manifest") {
                server.route(folder + objectPathOf(servedRollout(server).stagedManifestSha256), {answer(404)});
            } else if (forgery == "staged as release") {
                std::string text;
                fetchWholeText(server, folder + objectPathOf(servedRollout(server).stagedSha256), 1 << 16, text);
                server.route(folder + "release", {answer(200, text)});
                refused = true;
            }
            EXPECT_EQ(start(server), !refused);
            EXPECT_EQ(read("data.pak"), step.data);
        }
        EXPECT_EQ(read(installIdFileName).size(), 33u);
        for (const char* record : {"ORN_Launcher.accepted", "ORN_Launcher.releases", "ORN_Launcher.digests"})
            std::filesystem::remove(record);
        for (const auto& file : current)
            write(file.first, file.second);
    }
}

}  // namespace
