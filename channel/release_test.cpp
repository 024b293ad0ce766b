// Built natively and for Windows (run under Wine).
#include "channel/content_address.h"
#include "channel/release_check.h"
#include "channel/sha256.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

namespace {

const std::string manifest = "0123456789abcdef0123456789abcdef  data.pak\n";
const std::unordered_map<std::string, std::string> digests = {{"data.pak", "0123456789abcdef0123456789abcdef"}};

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
    for (const std::string& bad :
         {body.substr(0, body.size() - 1), replaced("orn-release 1", "orn-release 2"), replaced("serial 7", "serial 07"),
          replaced("serial 7", "serial -7"), replaced("serial 7", "serial 99999999999999999999"),
          replaced("serial 7", "serial " + std::to_string(largestReleaseSerial + 1)),
          replaced("channel latest", "channel "), replaced("2026-12-01T12:00:00Z", "2026-02-30T12:00:00Z"),
          replaced("2026-12-01T12:00:00Z", "2026-12-01 12:00:00Z"), replaced(hex, std::string(64, 'A')),
          replaced(" 4 data.pak", " 4"), replaced(" 4 data.pak", " 4x data.pak"),
          std::string("channel latest\n"), replaced("orn-release 1", "orn-release 1.x"),
          replaced("orn-release 1", "orn-release 10"), body + "serial 8\n", body + "expires 2027-01-01T00:00:00Z\n",
          body + "file " + hex + " 4 data.pak\n", body + "Later-Kind x\n", body + "\n", replaced("channel ", "channel\n")})
        EXPECT_FALSE(parseReleaseBody(bad, *std::make_unique<Release>())) << bad;
    // A later publisher may add kinds of lines and a minor format: signed, so taken, and ignored.
    for (const std::string& later :
         {body + "chunk-index-v2 " + hex + " 7 data.pak\n", replaced("orn-release 1", "orn-release 1.3"),
          replaced("file ", "later-file ") + "file " + hex + " 4 data.pak\n"}) {
        Release parsed;
        ASSERT_TRUE(parseReleaseBody(later, parsed)) << later;
        EXPECT_EQ(parsed.serial, 7u);
        ASSERT_EQ(parsed.files.size(), 2u) << later;
        EXPECT_EQ(parsed.files.back().path, later.find("later-file") != std::string::npos ? "data.pak" : "libs/a b.dll");
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

TEST(ReleaseKey, TextRoundTripsAndDamageIsCaught)
{
    const SecretKey key = generateSecretKey();
    const std::string text = releaseKeyText(key.publicPart);
    ReleaseKey parsed;
    ASSERT_TRUE(parseReleaseKey(text, parsed));
    EXPECT_EQ(parsed.publicKey, key.publicPart.publicKey);
    SecretKey loaded;
    ASSERT_TRUE(parseSecretKeyFile(secretKeyFileText(key), loaded));
    EXPECT_EQ(std::memcmp(loaded.bytes(), key.bytes(), SecretKey::size), 0);
    const SecretKey moved = std::move(loaded);
    EXPECT_EQ(std::memcmp(moved.bytes(), key.bytes(), SecretKey::size), 0);

    std::string otherId = text;
    otherId[0] = otherId[0] == '0' ? '1' : '0';
    std::string otherKey = text;
    otherKey[20] = otherKey[20] == 'A' ? 'B' : 'A';
    std::vector<ReleaseKey> keys;
    for (const std::string& bad : {otherId, otherKey, text.substr(1), text + "=", text.substr(0, 16), std::string("")})
        EXPECT_FALSE(parseReleaseKey(bad, parsed)) << bad;
    EXPECT_TRUE(parseReleaseKeyList(text + ";" + releaseKeyText(generateSecretKey().publicPart), keys));
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_FALSE(parseReleaseKeyList(text + ";", keys));
    EXPECT_FALSE(parseSecretKeyFile(secretKeyFileText(key).substr(1), loaded));
}

TEST(ReleaseCheck, EachCheckRefusesWhatItDefendsAgainst)
{
    const SecretKey key = generateSecretKey();
    const SecretKey otherKey = generateSecretKey();
    const std::vector<ReleaseKey> keys = {otherKey.publicPart, key.publicPart};
    const long long signedAt = 1796126400 - 86400;
    const std::string good = signRelease(releaseBody(sample(true)), key);
    std::string tampered = good;
    tampered[tampered.find("serial 7")] = 'S';
    Release otherChannel = sample(true);
    otherChannel.channel = "stable";
    struct Case {
        const char* name;
        std::string text;
        std::string channel;
        unsigned long long seen;
        long long now;
        std::string manifest;
        std::unordered_map<std::string, std::string> digests;
        ReleaseVerdict verdict;
    };
    const Case cases[] = {
        {"accepted", good, "latest", 7, signedAt, manifest, digests, ReleaseVerdict::accepted},
        {"within the clock allowance", good, "latest", 0, 1796126400 + 86400, manifest, digests,
         ReleaseVerdict::accepted},
        {"unknown key", signRelease(releaseBody(sample(true)), generateSecretKey()), "latest", 0, signedAt, manifest,
         digests, ReleaseVerdict::badSignature},
        {"changed after signing", tampered, "latest", 0, signedAt, manifest, digests, ReleaseVerdict::badSignature},
        {"cut short", good.substr(0, good.size() - 10), "latest", 0, signedAt, manifest, digests,
         ReleaseVerdict::badSignature},
        {"another channel", signRelease(releaseBody(otherChannel), key), "latest", 0, signedAt, manifest, digests,
         ReleaseVerdict::otherChannel},
        {"older than one seen", good, "latest", 8, signedAt, manifest, digests, ReleaseVerdict::olderSerial},
        {"expired", good, "latest", 0, 1796126400 + 86401, manifest, digests, ReleaseVerdict::expired},
        {"manifest changed", good, "latest", 0, signedAt, manifest + "\n", digests, ReleaseVerdict::manifestMismatch},
        {"entry not covered", good, "latest", 0, signedAt, manifest, {{"data.pak", "x"}, {"evil.exe", "y"}},
         ReleaseVerdict::unlistedEntry},
    };
    for (const Case& c : cases) {
        Release release;
        EXPECT_EQ(checkRelease(c.text, keys, c.channel, c.seen, c.now, c.manifest, c.digests, release), c.verdict)
            << c.name;
    }
}

}  // namespace
