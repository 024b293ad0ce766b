#include "launcher/release/signed_release.h"

#include "channel/channel_names.h"
#include "channel/content_address.h"
#include "channel/release_check.h"
#include "launcher/release/accepted_release.h"

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

FetchedRelease fetchRelease(const ReleaseTrust& trust, const std::string& directory, Transport& transport)
{
    FetchedRelease fetched;
    fetched.fetched = fetchWholeText(transport, directory + channelReleaseName, channelTextLimitBytes, fetched.text);
    // A staged release is offered only through the current one: served as the channel's release it is forged.
    fetched.verified =
        fetched.fetched && readSignedRelease(fetched.text, trust.keys(), fetched.release) && !fetched.release.staged;
    return fetched;
}

std::string manifestUriFor(const std::string& directory, const std::string& manifestUri, const FetchedRelease& fetched)
{
    if (fetched.verified && isContentAddressed(fetched.release))
        return directory + objectPathOf(fetched.release.manifestSha256);
    return manifestUri;
}

std::size_t manifestLimitFor(const FetchedRelease& fetched)
{
    unsigned long long size = 0;
    if (fetched.verified && statedManifestSize(fetched.release, size) && size + 1 < channelTextLimitBytes)
        return static_cast<std::size_t>(size + 1);
    return channelTextLimitBytes;
}

bool isOlderThanAccepted(const ReleaseTrust& trust, const FetchedRelease& fetched)
{
    return fetched.installedIsNewer ||
           (fetched.verified && checkSignedStatement(fetched.release, trust.channel(), trust.acceptedSerial(),
                                                     trust.now(), std::string(), {}) == ReleaseVerdict::olderSerial);
}

bool startAcceptedInstead(const ReleaseTrust& trust, bool digestCache, Console& console)
{
    console.connected();
    console.checking();
    if (!installedIsAcceptedRelease(trust.channel(), trust.acceptedSerial(), trust.keys(), trust.now(), digestCache)) {
        console.refused(Refusal::olderSerial);
        return false;
    }
    console.olderServedStartingInstalled();
    return true;
}

namespace {

ReleaseVerdict verdictOf(const ReleaseTrust& trust, const FetchedRelease& fetched, const std::string& manifestText,
                         const Manifest& manifest)
{
    if (!fetched.verified)
        return ReleaseVerdict::badSignature;
    return checkSignedStatement(fetched.release, trust.channel(), trust.acceptedSerial(), trust.now(), manifestText,
                                manifest.digests);
}

}  // namespace

bool releaseHolds(const ReleaseTrust& trust, const FetchedRelease& fetched, const std::string& manifestText,
                  const Manifest& manifest)
{
    return verdictOf(trust, fetched, manifestText, manifest) == ReleaseVerdict::accepted;
}

bool checkSignedRelease(const ReleaseTrust& trust, const FetchedRelease& fetched, const std::string& manifestText,
                        const Manifest& manifest, Console& console)
{
    if (!fetched.fetched) {
        console.refused(Refusal::releaseNotFetched);
        return false;
    }
    const ReleaseVerdict verdict = verdictOf(trust, fetched, manifestText, manifest);
    if (verdict != ReleaseVerdict::accepted) {
        console.refused(refusalOf(verdict));
        return false;
    }
    return true;
}
