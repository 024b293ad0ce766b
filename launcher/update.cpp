#include "launcher/update.h"

#include "channel/channel_names.h"
#include "launcher/release/accepted_release.h"
#include "launcher/release/release_trust.h"
#include "launcher/release/signed_release.h"
#include "launcher/server_handshake.h"

#include <ctime>
#include <new>
#include <string>
#include <utility>

namespace {

UpdateOutcome unsignedUpdate(const UpdateChannel& channel, const LaunchSettings& settings, Transport& transport,
                             Console& console)
{
    std::string manifestText;
    if (!fetchManifest(transport, console, channel.directory + channel.manifestFile, channelTextLimitBytes,
                       manifestText))
        return {};
    return retrieveUpdates(channel, settings.digestCache, settings.heldFileWaitMilliseconds, transport, console,
                           parseManifest(manifestText), nullptr);
}

UpdateOutcome signedUpdate(const UpdateChannel& channel, const LaunchSettings& settings, const ReleaseTrust& trust,
                           Transport& transport, Console& console)
{
    const FetchedRelease release = fetchRelease(trust, channel.directory, transport);
    if (isOlderThanAccepted(trust, release))
        return {startAcceptedInstead(trust, settings.digestCache, console), 0};
    const std::string manifestUri =
        manifestUriFor(channel.directory, channel.directory + channel.manifestFile, release);
    std::string manifestText;
    if (!fetchManifest(transport, console, manifestUri, manifestLimitFor(release), manifestText))
        return {};
    Manifest manifest = parseManifest(manifestText);
    if (!checkSignedRelease(trust, release, manifestText, manifest, console))
        return {};
    const SignedOffer offer{trust, release.release, acceptedReleaseText(release.text, manifestText)};
    return retrieveUpdates(channel, settings.digestCache, settings.heldFileWaitMilliseconds, transport, console,
                           std::move(manifest), &offer);
}

}  // namespace

UpdateOutcome update(const UpdateChannel& channel, const LaunchSettings& settings, Transport& transport,
                     Console& console)
{
    console.connecting();
    try {
        if (!waitWhileLocked(channel, settings.lockPollMilliseconds, transport, console))
            return {};
        // The clock is read once, when the server is free: every check of this run is against that moment.
        const ReleaseTrust trust(settings.releaseKeys, channel.name, static_cast<long long>(std::time(nullptr)));
        if (!trust.signedReleasesRequired())
            return unsignedUpdate(channel, settings, transport, console);
        return signedUpdate(channel, settings, trust, transport, console);
    } catch (const std::bad_alloc&) {
        // A manifest or release too large for this computer's memory ends the run, not the process.
        console.serverTrouble();
        return {};
    }
}
