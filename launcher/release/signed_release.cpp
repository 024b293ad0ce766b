#include "launcher/release/signed_release.h"

#include "channel/channel_names.h"
#include "channel/content_address.h"
#include "channel/release_check.h"
#include "launcher/release/accepted_release.h"
#include "launcher/release/accepted_serials.h"
#include "launcher/build_constants.h"

#include <ctime>

namespace {

Refusal refusalOf(ReleaseVerdict verdict)
{
    switch (verdict) {
    case ReleaseVerdict::otherChannel:
        return Refusal::otherChannel;
    case ReleaseVerdict::olderSerial:
        return Refusal::olderSerial;
    case ReleaseVerdict::expired:
        return Refusal::expired;
    case ReleaseVerdict::manifestMismatch:
        return Refusal::manifestMismatch;
    case ReleaseVerdict::unlistedEntry:
        return Refusal::unlistedEntry;
    case ReleaseVerdict::badSignature:
    case ReleaseVerdict::accepted:
        break;
    }
    return Refusal::badSignature;
}

}  // namespace

// CMake refuses malformed keys; should one slip through, no release verifies.
std::vector<ReleaseKey> builtInKeys()
{
    std::vector<ReleaseKey> keys;
    if (!parseReleaseKeyList(buildReleaseKeys, keys))
        keys.clear();
    return keys;
}

bool releaseKeysBuiltIn()
{
    return buildReleaseKeys[0] != '\0';
}

FetchedRelease fetchRelease(const UpdateChannel& channel, Transport& transport)
{
    FetchedRelease fetched;
    fetched.fetched =
        fetchWholeText(transport, channel.directory + channelReleaseName, channelTextLimitBytes, fetched.text);
    fetched.verified = fetched.fetched && readSignedRelease(fetched.text, builtInKeys(), fetched.release);
    return fetched;
}

std::string manifestUriFor(const UpdateChannel& channel, const FetchedRelease& fetched)
{
    if (fetched.verified && isContentAddressed(fetched.release))
        return channel.directory + objectPathOf(fetched.release.manifestSha256);
    return channel.directory + channel.manifestFile;
}

std::size_t manifestLimitFor(const FetchedRelease& fetched)
{
    unsigned long long size = 0;
    if (fetched.verified && statedManifestSize(fetched.release, size) && size + 1 < channelTextLimitBytes)
        return static_cast<std::size_t>(size + 1);
    return channelTextLimitBytes;
}

bool isOlderThanAccepted(const UpdateChannel& channel, const FetchedRelease& fetched)
{
    return fetched.verified &&
           checkSignedStatement(fetched.release, channel.name, highestAcceptedSerial(channel.name),
                                static_cast<long long>(std::time(nullptr)), std::string(), {}) ==
               ReleaseVerdict::olderSerial;
}

bool startAcceptedInstead(const UpdateChannel& channel, Console& console)
{
    console.connected();
    console.checking();
    if (!installedIsAcceptedRelease(channel.name, highestAcceptedSerial(channel.name), builtInKeys(),
                                    static_cast<long long>(std::time(nullptr)))) {
        console.refused(Refusal::olderSerial);
        return false;
    }
    console.olderServedStartingInstalled();
    return true;
}

bool checkSignedRelease(const UpdateChannel& channel, const FetchedRelease& fetched, const std::string& manifestText,
                        const Manifest& manifest, Console& console)
{
    if (!fetched.fetched) {
        console.refused(Refusal::releaseNotFetched);
        return false;
    }
    const ReleaseVerdict verdict =
        fetched.verified ? checkSignedStatement(fetched.release, channel.name, highestAcceptedSerial(channel.name),
                                                static_cast<long long>(std::time(nullptr)), manifestText,
                                                manifest.digests)
                         : ReleaseVerdict::badSignature;
    if (verdict != ReleaseVerdict::accepted) {
        console.refused(refusalOf(verdict));
        return false;
    }
    return true;
}
