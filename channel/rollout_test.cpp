// Built natively and for Windows (run under Wine).
#include "channel/rollout.h"

#include "channel/content_address.h"
#include "channel/utc_time.h"
#include "digest/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Release withRollout(const Rollout& rollout)
{
    Release release;
    release.channel = "latest";
    release.serial = 9;
    release.manifestSha256 = sha256Hex("m");
    release.files = {{sha256Hex("data"), 4, "data.pak"}, rolloutEntry(rollout)};
    return release;
}

Rollout sampleRollout(bool scheduled)
{
    Rollout rollout;
    rollout.stagedSha256 = sha256Hex("staged");
    rollout.stagedSize = 812;
    rollout.stagedManifestSha256 = sha256Hex("staged manifest");
    rollout.sharePpm = 250000;
    rollout.scheduled = scheduled;
    rollout.since = 1796126400;
    rollout.days = scheduled ? 6 : 0;
    return rollout;
}

TEST(Rollout, LineRoundTripsThroughTheSignedBodyAndRefusesMalformedOnes)
{
    for (const bool scheduled : {false, true}) {
        Release parsed;
        ASSERT_TRUE(parseReleaseBody(releaseBody(withRollout(sampleRollout(scheduled))), parsed));
        Rollout read;
        ASSERT_TRUE(rolloutOf(parsed, read));
        EXPECT_EQ(rolloutEntry(read).path, rolloutEntry(sampleRollout(scheduled)).path);
        EXPECT_EQ(read.scheduled, scheduled);
        EXPECT_EQ(read.stagedSize, 812u);
    }
    Release none = withRollout(sampleRollout(false));
    none.files.pop_back();
    Rollout read;
    EXPECT_FALSE(rolloutOf(none, read));
    const std::string object = objectPathOf(sha256Hex("staged"));
    const std::string manifest = sha256Hex("staged manifest");
    for (const std::string& path : {object + " staged " + manifest + " 1000001", object + " staged " + manifest,
                                    object + " staged " + manifest + " 25 2026-12-01T12:00:00Z 0",
                                    object + " staged " + manifest + " 25 2026-12-01T12:00:00Z 3651",
                                    object + " staged " + manifest + " 25 yesterday 3", object + " staged nothex 25",
                                    object + " staged " + manifest + " 025"}) {
        Release release = none;
        release.files.push_back({sha256Hex("staged"), 1, path});
        EXPECT_FALSE(rolloutOf(release, read)) << path;
        EXPECT_TRUE(isRolloutEntry(release.files.back())) << path;
    }
    Release twice = withRollout(sampleRollout(false));
    twice.files.push_back(rolloutEntry(sampleRollout(true)));
    EXPECT_FALSE(rolloutOf(twice, read));
}

TEST(Rollout, StagedReleasesHaveTheirOwnFirstLine)
{
    Release staged = withRollout(sampleRollout(false));
    staged.staged = true;
    const std::string body = releaseBody(staged);
    EXPECT_EQ(body.substr(0, body.find('\n')), "orn-staged-release 1");
    Release parsed;
    ASSERT_TRUE(parseReleaseBody(body, parsed));
    EXPECT_TRUE(parsed.staged);
    ASSERT_TRUE(parseReleaseBody(releaseBody(withRollout(sampleRollout(false))), parsed));
    EXPECT_FALSE(parsed.staged);
    EXPECT_FALSE(parseReleaseBody("orn-staged-release 2\n" + body.substr(body.find('\n') + 1), parsed));
}

TEST(Rollout, ScheduleGrowsInWholeDaysToEveryone)
{
    Rollout rollout = sampleRollout(true);
    rollout.sharePpm = rolloutWholeShare / 7;
    const struct {
        long long after;
        unsigned long share;
    } steps[] = {{-secondsPerDay, 142857},      {0, 142857},
                 {secondsPerDay - 1, 142857},   {secondsPerDay, 285714},
                 {5 * secondsPerDay, 857142},   {6 * secondsPerDay, 1000000},
                 {600 * secondsPerDay, 1000000}};
    for (const auto& step : steps)
        EXPECT_EQ(rolloutShareAt(rollout, rollout.since + step.after), step.share) << step.after;
    EXPECT_EQ(rolloutCompleteAt(rollout), rollout.since + 6 * secondsPerDay);
    EXPECT_EQ(rolloutShareAt(sampleRollout(false), rollout.since + 99 * secondsPerDay), 250000u);
}

TEST(Rollout, SharesInPercentAndTheGroupRule)
{
    const struct {
        const char* text;
        bool valid;
        unsigned long ppm;
    } shares[] = {{"25", true, 250000}, {"2.5", true, 25000},     {"0.0001", true, 1}, {"100", true, 1000000},
                  {"0", true, 0},       {"100.0", true, 1000000}, {"100.1", false, 0}, {"101", false, 0},
                  {"-1", false, 0},     {"1.", false, 0},         {".5", false, 0},    {"0.00001", false, 0},
                  {"5%", false, 0},     {"", false, 0},           {"07", false, 0}};
    for (const auto& share : shares) {
        unsigned long ppm = 0;
        EXPECT_EQ(parseSharePercent(share.text, ppm), share.valid) << share.text;
        if (share.valid) {
            EXPECT_EQ(ppm, share.ppm) << share.text;
            EXPECT_EQ(sharePercentText(ppm).find('%'), sharePercentText(ppm).size() - 1);
        }
    }
    EXPECT_EQ(sharePercentText(25000), "2.5%");
    const std::string low = "00000000" + std::string(24, 'f');
    const std::string quarter = "3fffffff" + std::string(24, '0');
    const std::string pastQuarter = "40000000" + std::string(24, '0');
    const std::string high = std::string(32, 'f');
    EXPECT_TRUE(isInstallId(low) && isInstallId(high));
    EXPECT_FALSE(isInstallId(std::string(31, 'a')) || isInstallId(std::string(32, 'A')));
    EXPECT_FALSE(isInRolloutGroup(low, 0));
    EXPECT_TRUE(isInRolloutGroup(low, 1));
    EXPECT_TRUE(isInRolloutGroup(quarter, 250000));
    EXPECT_FALSE(isInRolloutGroup(pastQuarter, 250000));
    EXPECT_TRUE(isInRolloutGroup(high, rolloutWholeShare));
    EXPECT_FALSE(isInRolloutGroup(high, rolloutWholeShare - 1));
    EXPECT_EQ(installIdPlace(pastQuarter), 250000u);
}

}  // namespace
