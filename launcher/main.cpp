#include "launcher/build_constants.h"
#include "launcher/leftover_cleanup.h"
#include "launcher/platform/platform.h"
#include "launcher/remote_paths.h"
#include "launcher/self_replacement.h"
#include "launcher/server_handshake.h"
#include "launcher/signed_release.h"
#include "launcher/update_retrieval.h"

#include <physfs.h>

#include <iostream>
#include <new>
#include <string>

namespace {

const char* const connectingText = "Connecting to server...";

// From the lock to the files in place, or the reason the run gives up on the console.
UpdateOutcome update(const ServerAddress& server)
{
    std::string manifestText;
    if (!fetchManifest(server, remoteDir, manifestText))
        return {};
    Release release;
    if (releaseKeysBuiltIn() && !fetchSignedRelease(server, remoteDir, manifestText, release))
        return {};
    return retrieveUpdates(server, remoteDir, manifestText, releaseKeysBuiltIn() ? &release : nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    platform::returnLargeBuffersPromptly();
    platform::showUtf8OnConsole();
    PHYSFS_init(argc > 0 ? argv[0] : nullptr);
    PHYSFS_mount(PHYSFS_getBaseDir(), nullptr, 1);
    // A "libs" that is a link to a folder elsewhere (the game's data moved to
    // another disk; a junction) is written through, so the scan must look
    // through it too; PhysFS lists no directory that is a link, so the folder
    // behind it is mounted as "libs" itself.
    PHYSFS_permitSymbolicLinks(1);
    PHYSFS_Stat libs;
    if (PHYSFS_stat("libs", &libs) != 0 && libs.filetype == PHYSFS_FILETYPE_SYMLINK)
        PHYSFS_mount((std::string(PHYSFS_getBaseDir()) + "libs/").c_str(), "libs", 1);
    PHYSFS_setWriteDir(PHYSFS_getBaseDir());
    // Started from elsewhere (a full path, a shortcut's "Start in"), the
    // launcher must still clean up, write, rename and run the client in the
    // directory it hashes; if the change fails it goes on where it is.
    if (const char* baseDir = PHYSFS_getBaseDir())
        platform::changeDirectory(baseDir);

    if (argc == 2) {
        channelName = argv[1];
        remoteDir = basePath + channelName + "/";
    }

    removeLeftovers();

    std::cout << connectingText;
    UpdateOutcome outcome;
    try {
        outcome = update(ServerAddress{serverHost, buildServerPort});
    } catch (const std::bad_alloc&) {
        // A manifest or release too large for this computer's memory ends the run, not the process.
        reportServerTrouble();
        outcome = UpdateOutcome();
    }
    if (!outcome.retrieved)
        return 1;
    patchAndLaunch(outcome.ownFiles);
}
