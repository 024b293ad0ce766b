#include "channel/release_check.h"

#include "digest/sha256.h"

#include <unordered_set>

bool readSignedRelease(const std::string& releaseText, const std::vector<ReleaseKey>& keys, Release& release)
{
    std::string body;
    return verifySignedRelease(releaseText, keys, body) && parseReleaseBody(body, release);
}

ReleaseVerdict checkSignedStatement(const Release& release, const std::string& channel,
                                    unsigned long long highestAcceptedSerial, long long now,
                                    const std::string& manifestText,
                                    const std::unordered_map<std::string, std::string>& manifestDigests)
{
    if (release.channel != channel)
        return ReleaseVerdict::otherChannel;
    if (release.serial < highestAcceptedSerial)
        return ReleaseVerdict::olderSerial;
    if (release.expires && now > release.expiresAt + releaseClockSkewSeconds)
        return ReleaseVerdict::expired;
    if (sha256Hex(manifestText) != release.manifestSha256)
        return ReleaseVerdict::manifestMismatch;
    std::unordered_set<std::string> covered;
    for (const ReleaseEntry& entry : release.files)
        covered.insert(entry.path);
    for (const auto& entry : manifestDigests) {
        if (covered.count(entry.first) == 0)
            return ReleaseVerdict::unlistedEntry;
    }
    return ReleaseVerdict::accepted;
}

ReleaseVerdict checkRelease(const std::string& releaseText, const std::vector<ReleaseKey>& keys,
                            const std::string& channel, unsigned long long highestAcceptedSerial, long long now,
                            const std::string& manifestText,
                            const std::unordered_map<std::string, std::string>& manifestDigests, Release& release)
{
    if (!readSignedRelease(releaseText, keys, release))
        return ReleaseVerdict::badSignature;
    return checkSignedStatement(release, channel, highestAcceptedSerial, now, manifestText, manifestDigests);
}
