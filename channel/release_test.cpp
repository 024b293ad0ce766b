// Built natively and for Windows (run under Wine).
#include "channel/content_address.h"
#include "channel/release.h"
#include "digest/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string manifest = "0123456789abcdef0123456789abcdef  data.pak\n";

Release sample(bool expires)
{
    Release release;
    release.channel = "latest";
    release.serial = 7;
    release.expires = expires;
    release.expiresAt = 1796126400;  // 2026-12-01T12:00:00Z
    release.manifestSha256 = sha256Hex(manifest);
    release.files = {{sha256Hex("data"), 4, "data.pak"}, {sha256Hex(""), 0, "libs/a b.dll"}};
    return release;
}

TEST(Release, BodyRoundTripsAndRefusesAnythingElse)
{
    for (const bool expires : {false, true}) {
        Release parsed;
        const std::string body = releaseBody(sample(expires));
        ASSERT_TRUE(parseReleaseBody(body, parsed)) << body;
        EXPECT_EQ(releaseBody(parsed), body);
        EXPECT_EQ(parsed.files.size(), 2u);
    }
    const std::string body = releaseBody(sample(true));
    const auto replaced = [&body](const std::string& from, const std::string& to) {
        std::string changed = body;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    const std::string hex = sha256Hex("data");
    for (const std::string& bad : {body.substr(0, body.size() - 1),
                                   replaced("orn-release 1", "orn-release 2"),
                                   replaced("serial 7", "serial 07"),
                                   replaced("serial 7", "serial -7"),
                                   replaced("serial 7", "serial 99999999999999999999"),
                                   replaced("serial 7", "serial " + std::to_string(largestReleaseSerial + 1)),
                                   replaced("channel latest", "channel "),
                                   replaced("2026-12-01T12:00:00Z", "2026-02-30T12:00:00Z"),
                                   replaced("2026-12-01T12:00:00Z", "2026-12-01 12:00:00Z"),
                                   replaced(hex, std::string(64, 'A')),
                                   replaced(" 4 data.pak", " 4"),
                                   replaced(" 4 data.pak", " 4x data.pak"),
                                   std::string("channel latest\n"),
                                   replaced("orn-release 1", "orn-release 1.x"),
                                   replaced("orn-release 1", "orn-release 10"),
                                   body + "serial 8\n",
                                   body + "expires 2027-01-01T00:00:00Z\n",
                                   body + "file " + hex + " 4 data.pak\n",
                                   body + "Later-Kind x\n",
                                   body + "\n",
                                   replaced("channel ", "channel\n")})
        EXPECT_FALSE(parseReleaseBody(bad, *std::make_unique<Release>())) << bad;
    // A later publisher may add kinds of lines and a minor format: signed, so taken, and ignored.
    for (const std::string& later :
         {body + "chunk-index-v2 " + hex + " 7 data.pak\n", replaced("orn-release 1", "orn-release 1.3"),
          replaced("file ", "later-file ") + "file " + hex + " 4 data.pak\n"}) {
        Release parsed;
        ASSERT_TRUE(parseReleaseBody(later, parsed)) << later;
        EXPECT_EQ(parsed.serial, 7u);
        ASSERT_EQ(parsed.files.size(), 2u) << later;
        EXPECT_EQ(parsed.files.back().path,
                  later.find("later-file") != std::string::npos ? "data.pak" : "libs/a b.dll");
    }
    // Launchers already in players' hands read serials up to 2^62: so do we, and no further.
    Release largest;
    ASSERT_TRUE(parseReleaseBody(replaced("serial 7", "serial 4611686018427387904"), largest));
    EXPECT_EQ(largest.serial, largestReleaseSerial);
}

TEST(Release, ContentAddressedOnlyWithTheMarkerForItsOwnManifest)
{
    Release release = sample(false);
    EXPECT_FALSE(isContentAddressed(release));
    const ReleaseEntry marker = contentAddressMarker(release.manifestSha256, manifest.size());
    EXPECT_EQ(marker.path, "by-hash/" + release.manifestSha256);
    ReleaseEntry otherManifest = contentAddressMarker(sha256Hex("other"), 5);
    ReleaseEntry wrongDigest = marker;
    wrongDigest.sha256 = sha256Hex("other");
    for (const ReleaseEntry& entry : {otherManifest, wrongDigest, marker}) {
        release.files.push_back(entry);
        Release parsed;
        ASSERT_TRUE(parseReleaseBody(releaseBody(release), parsed));
        EXPECT_EQ(isContentAddressed(parsed), entry.sha256 == marker.sha256 && entry.path == marker.path) << entry.path;
        release.files.pop_back();
    }
}

TEST(Release, UtcTimesRoundTrip)
{
    for (const long long seconds : {0LL, 951782400LL /* 2000-02-29 */, 1796126400LL, 4102444799LL}) {
        long long parsed = -1;
        EXPECT_TRUE(parseUtcTime(utcTimeText(seconds), parsed)) << utcTimeText(seconds);
        EXPECT_EQ(parsed, seconds);
    }
    EXPECT_EQ(utcTimeText(1796126400), "2026-12-01T12:00:00Z");
}

}  // namespace
