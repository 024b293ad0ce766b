#include "launcher/signed_release.h"

#include "channel/channel_names.h"
#include "channel/content_address.h"
#include "channel/release_check.h"
#include "launcher/accepted_release.h"
#include "launcher/accepted_serials.h"
#include "launcher/server_handshake.h"
#include "launcher/build_constants.h"

#include <ctime>
#include <iostream>

namespace {

const char* const failedText = " !!Failed!!";
const char* const doneText = " Done";
const char* const olderServedText = "The server offers an update older than the one installed, starting ORN...";
const char* const notFetchedText = "The update's signed release could not be fetched, canceling launch.";

const char* verdictText(ReleaseVerdict verdict)
{
    switch (verdict) {
    case ReleaseVerdict::badSignature:
        return "The update's signature is not valid, canceling launch.";
    case ReleaseVerdict::otherChannel:
        return "The update was signed for another channel, canceling launch.";
    case ReleaseVerdict::olderSerial:
        return "The update is older than one already installed, canceling launch.";
    case ReleaseVerdict::expired:
        return "The update's signature has expired, canceling launch.";
    case ReleaseVerdict::manifestMismatch:
        return "The update's file list does not match its signature, canceling launch.";
    case ReleaseVerdict::unlistedEntry:
        return "The update lists files that its signature does not cover, canceling launch.";
    case ReleaseVerdict::accepted:
        break;
    }
    return "";
}

// CMake refuses malformed keys; should one slip through, no release verifies.
std::vector<ReleaseKey> builtInKeys()
{
    std::vector<ReleaseKey> keys;
    if (!parseReleaseKeyList(buildReleaseKeys, keys))
        keys.clear();
    return keys;
}

}  // namespace

bool releaseKeysBuiltIn()
{
    return buildReleaseKeys[0] != '\0';
}

FetchedRelease fetchRelease(const UpdateChannel& channel)
{
    FetchedRelease fetched;
    fetched.fetched =
        fetchWholeText(channel.server, channel.directory + channelReleaseName, channelTextLimitBytes, fetched.text);
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

bool startAcceptedInstead(const UpdateChannel& channel)
{
    reportConnected();
    if (!installedIsAcceptedRelease(channel.name, highestAcceptedSerial(channel.name), builtInKeys(),
                                    static_cast<long long>(std::time(nullptr)))) {
        std::cout << failedText << std::endl << verdictText(ReleaseVerdict::olderSerial) << std::endl;
        return false;
    }
    std::cout << doneText << std::endl << olderServedText << std::endl;
    return true;
}

bool checkSignedRelease(const UpdateChannel& channel, const FetchedRelease& fetched, const std::string& manifestText,
                        const Manifest& manifest)
{
    if (!fetched.fetched) {
        std::cout << failedText << std::endl << notFetchedText << std::endl;
        return false;
    }
    const ReleaseVerdict verdict =
        fetched.verified ? checkSignedStatement(fetched.release, channel.name, highestAcceptedSerial(channel.name),
                                                static_cast<long long>(std::time(nullptr)), manifestText,
                                                manifest.digests)
                         : ReleaseVerdict::badSignature;
    if (verdict != ReleaseVerdict::accepted) {
        std::cout << failedText << std::endl << verdictText(verdict) << std::endl;
        return false;
    }
    return true;
}
