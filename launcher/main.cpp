#include "channel/channel_names.h"
#include "launcher/accepted_release.h"
#include "launcher/build_constants.h"
#include "launcher/game_directory.h"
#include "launcher/leftover_cleanup.h"
#include "launcher/platform/platform.h"
#include "launcher/remote_paths.h"
#include "launcher/self_replacement.h"
#include "launcher/server_handshake.h"
#include "launcher/signed_release.h"
#include "launcher/update_retrieval.h"

#include <iostream>
#include <new>
#include <string>
#include <utility>

namespace {

const char* const connectingText = "Connecting to server...";

// From the lock to the files in place, or the reason the run gives up on the console.
UpdateOutcome update(const UpdateChannel& channel)
{
    if (!waitWhileLocked(channel))
        return {};
    const bool keys = releaseKeysBuiltIn();
    const FetchedRelease release = keys ? fetchRelease(channel) : FetchedRelease();
    if (keys && isOlderThanAccepted(channel, release))
        return {startAcceptedInstead(channel), 0};
    const std::string manifestUri = keys ? manifestUriFor(channel, release) : channel.directory + channel.manifestFile;
    std::string manifestText;
    const std::size_t manifestLimit = keys ? manifestLimitFor(release) : channelTextLimitBytes;
    if (!fetchManifest(channel, manifestUri, manifestLimit, manifestText))
        return {};
    Manifest manifest = parseManifest(manifestText);
    if (keys && !checkSignedRelease(channel, release, manifestText, manifest))
        return {};
    const std::string accepted = keys ? acceptedReleaseText(release.text, manifestText) : std::string();
    return retrieveUpdates(channel, std::move(manifest), keys ? &release.release : nullptr, accepted);
}

}  // namespace

int main(int argc, char** argv)
{
    platform::returnLargeBuffersPromptly();
    platform::showUtf8OnConsole();
    openGameDirectory(argc > 0 ? argv[0] : nullptr);

    if (argc == 2) {
        channelName = argv[1];
        remoteDir = basePath + channelName + "/";
    }

    removeLeftovers();

    std::cout << connectingText;
    UpdateOutcome outcome;
    try {
        const RequestFloor floor{buildRequestWindowMilliseconds, requestFloor.minimumBytes};
        outcome = update({{serverHost, buildServerPort, floor}, channelName, remoteDir, lockFileName, manifestFileName});
    } catch (const std::bad_alloc&) {
        // A manifest or release too large for this computer's memory ends the run, not the process.
        reportServerTrouble();
        outcome = UpdateOutcome();
    }
    if (!outcome.retrieved)
        return 1;
    patchAndLaunch(outcome.ownFiles);
}
