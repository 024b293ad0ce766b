#include "launcher/update.h"

#include "channel/channel_names.h"
#include "launcher/release/accepted_release.h"
#include "launcher/release/release_trust.h"
#include "launcher/release/signed_release.h"
#include "launcher/release/staged_release.h"
#include "launcher/log/run_log.h"
#include "launcher/server_handshake.h"

#include <ctime>
#include <new>
#include <optional>
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

// One server's release and the manifest it names, fetched with no word on the console.
struct ServedRelease {
    FetchedRelease release;
    bool manifestFetched = false;
    std::string manifestText;
    Manifest manifest;
};

void fetchManifestOf(const UpdateChannel& channel, ServedRelease& served, Transport& transport)
{
    const std::string manifestUri =
        manifestUriFor(channel.directory, channel.directory + channel.manifestFile, served.release);
    served.manifestFetched =
        fetchManifestText(transport, manifestUri, manifestLimitFor(served.release), served.manifestText);
    if (served.manifestFetched)
        served.manifest = parseManifest(served.manifestText);
}

ServedRelease fetchServedRelease(const UpdateChannel& channel, const ReleaseTrust& trust, bool stagedRollouts,
                                 Transport& transport)
{
    ServedRelease served;
    served.release = fetchRelease(trust, channel.directory, transport);
    std::optional<FetchedRelease> current;
    if (stagedRollouts) {
        ReleaseChoice choice = chooseRelease(trust, channel.directory, std::move(served.release), transport);
        if (!choice.note.empty())
            noteInRunLog(choice.note);
        served.release = std::move(choice.release);
        current = std::move(choice.current);
    }
    if (isOlderThanAccepted(trust, served.release))
        return served;
    fetchManifestOf(channel, served, transport);
    if (current &&
        !(served.manifestFetched && releaseHolds(trust, served.release, served.manifestText, served.manifest))) {
        // A directory that has not taken the staged release yet plays the current one rather than none.
        noteInRunLog("the staged release's manifest served does not hold: keeping the current release");
        served = ServedRelease();
        served.release = std::move(*current);
        fetchManifestOf(channel, served, transport);
    }
    return served;
}

// Every server is untrusted alike: one whose release is forged, stale or of another channel, or whose
// manifest is missing or not the signed one, is passed over for the next; the last one's is judged as ever,
// unless an earlier one served a release older than the installed one: then the game as installed plays,
// whatever order the servers come in.
ServedRelease fetchHoldingRelease(const UpdateChannel& channel, const ReleaseTrust& trust, bool stagedRollouts,
                                  Transport& transport)
{
    ServedRelease served = fetchServedRelease(channel, trust, stagedRollouts, transport);
    std::optional<ServedRelease> older;
    for (std::size_t tried = 1;; ++tried) {
        if (served.manifestFetched && releaseHolds(trust, served.release, served.manifestText, served.manifest))
            return served;
        if (!older && isOlderThanAccepted(trust, served.release))
            older = served;
        if (tried >= transport.serverCount())
            break;
        noteInRunLog("the release or manifest served does not hold: asking the next server");
        transport.passOver();
        served = fetchServedRelease(channel, trust, stagedRollouts, transport);
    }
    return older ? *older : served;
}

UpdateOutcome signedUpdate(const UpdateChannel& channel, const LaunchSettings& settings, const ReleaseTrust& trust,
                           Transport& transport, Console& console)
{
    ServedRelease served = fetchHoldingRelease(channel, trust, settings.stagedRollouts, transport);
    if (isOlderThanAccepted(trust, served.release))
        return {startAcceptedInstead(trust, settings.digestCache, console), 0};
    if (!tellServerAnswered(console, served.manifestFetched))
        return {};
    if (!checkSignedRelease(trust, served.release, served.manifestText, served.manifest, console))
        return {};
    const SignedOffer offer{trust, served.release.release,
                            acceptedReleaseText(served.release.text, served.manifestText)};
    return retrieveUpdates(channel, settings.digestCache, settings.heldFileWaitMilliseconds, transport, console,
                           std::move(served.manifest), &offer);
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
