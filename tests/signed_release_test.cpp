// Releases signed as the publisher signs them and checked as launchers
// check them. Built natively and for Windows (run under Wine).
#include "channel/release_check.h"
#include "digest/sha256.h"
#include "publisher/keys/secret_key.h"

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
        {"entry not covered",
         good,
         "latest",
         0,
         signedAt,
         manifest,
         {{"data.pak", "x"}, {"evil.exe", "y"}},
         ReleaseVerdict::unlistedEntry},
    };
    for (const Case& c : cases) {
        Release release;
        EXPECT_EQ(checkRelease(c.text, keys, c.channel, c.seen, c.now, c.manifest, c.digests, release), c.verdict)
            << c.name;
    }
}

}  // namespace
