#include "launcher/update.h"

#include "channel/channel_names.h"
#include "launcher/release/accepted_release.h"
#include "launcher/build_constants.h"
#include "launcher/remote_paths.h"
#include "launcher/server_handshake.h"
#include "launcher/release/signed_release.h"

#include <new>
#include <string>
#include <utility>

namespace {

UpdateOutcome updateFromTheLock(const UpdateChannel& channel, Transport& transport, Console& console)
{
    if (!waitWhileLocked(channel, transport, console))
        return {};
    const bool keys = releaseKeysBuiltIn();
    const FetchedRelease release = keys ? fetchRelease(channel, transport) : FetchedRelease();
    if (keys && isOlderThanAccepted(channel, release))
        return {startAcceptedInstead(channel, console), 0};
    const std::string manifestUri = keys ? manifestUriFor(channel, release) : channel.directory + channel.manifestFile;
    std::string manifestText;
    const std::size_t manifestLimit = keys ? manifestLimitFor(release) : channelTextLimitBytes;
    if (!fetchManifest(transport, console, manifestUri, manifestLimit, manifestText))
        return {};
    Manifest manifest = parseManifest(manifestText);
    if (keys && !checkSignedRelease(channel, release, manifestText, manifest, console))
        return {};
    const std::string accepted = keys ? acceptedReleaseText(release.text, manifestText) : std::string();
    return retrieveUpdates(channel, transport, console, std::move(manifest), keys ? &release.release : nullptr,
                           accepted);
}

}  // namespace

UpdateChannel updateChannelFrom(int argc, char** argv)
{
    if (argc == 2) {
        channelName = argv[1];
        remoteDir = basePath + channelName + "/";
    }
    const RequestFloor floor{buildRequestWindowMilliseconds, requestFloor.minimumBytes};
    return {{serverHost, buildServerPort, floor}, channelName, remoteDir, lockFileName, manifestFileName};
}

UpdateOutcome update(const UpdateChannel& channel, Transport& transport, Console& console)
{
    console.connecting();
    try {
        return updateFromTheLock(channel, transport, console);
    } catch (const std::bad_alloc&) {
        // A manifest or release too large for this computer's memory ends the run, not the process.
        console.serverTrouble();
        return {};
    }
}
