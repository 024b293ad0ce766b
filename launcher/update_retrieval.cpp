#include "launcher/update_retrieval.h"

#include "channel/manifest_path.h"
#include "index/file_index.h"
#include "index/installed_listing.h"
#include "index/local_scan.h"
#include "launcher/release/accepted_release.h"
#include "launcher/release/accepted_serials.h"
#include "launcher/release/retired_files.h"
#include "launcher/download/partial_download.h"
#include "index/game_directory.h"
#include "launcher/log/run_log.h"
#include "launcher/update_downloads.h"
#include "launcher/update_preflight.h"
#include "platform/platform.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <utility>

namespace {

// Raised only once the whole update is in place: a failed run may be retried with the same release.
// The record first: a serial raised without it would only refuse a stale edge, as before. What the
// release accepted before listed and this one does not goes just before: that record tells it.
void acceptRelease(const SignedOffer* offer, const std::unordered_map<std::string, std::string>& listedNow)
{
    if (offer == nullptr) {
        // Without a signed record, only this tells an uninstall which files are the game's.
        recordInstalledListing(listedNow);
        return;
    }
    const ReleaseTrust& trust = offer->trust;
    const unsigned long long serial = offer->release.serial;
    // The record is this very release on every start after the one that took it: nothing to retire, nothing to read.
    if (trust.acceptedSerial() != serial) {
        for (const std::string& path : removeRetiredFiles(trust.channel(), trust.keys(), listedNow))
            noteInRunLog(path + ": removed, retired by this release");
    }
    recordAcceptedRelease(offer->acceptedRecord);
    recordAcceptedSerial(trust.channel(), serial);
    noteInRunLog("accepted release serial " + std::to_string(serial) + " of channel " + trust.channel());
}

// The files to fetch, in list order, once the folders take them and the volume has room for them.
bool planDownloads(const UpdateChannel& channel, const std::vector<std::string>& changed,
                   const SignedFiles& signedFiles, Console& console, std::vector<PlannedDownload>& plan)
{
    for (const std::string& path : changed) {
        // The launcher's records are its own (its log is being written): never files to fetch over them.
        if (path == channel.lockFile || path == channel.manifestFile || isLauncherRecord(path))
            continue;
        plan.push_back({path, localNameOf(path)});
    }
    std::vector<PlannedDownload> safePlan;
    std::copy_if(plan.begin(), plan.end(), std::back_inserter(safePlan),
                 [](const PlannedDownload& file) { return isSafeManifestPath(file.path); });
    return foldersTakeNewFiles(safePlan, console) && volumeHoldsUpdate(safePlan, signedFiles.entries, console);
}

UpdateOutcome gameIsWhole(const FileIndex& index, DigestCache* digestCache, const SignedOffer* offer, Console& console)
{
    console.noUpdates();
    if (digestCache != nullptr)
        digestCache->save(digestCacheFileName, index.remoteDigests);
    acceptRelease(offer, index.remoteDigests);
    return {true, 0};
}

}  // namespace

UpdateOutcome retrieveUpdates(const UpdateChannel& channel, bool useDigestCache, unsigned int heldWaitMilliseconds,
                              Transport& transport, Console& console, Manifest manifest, const SignedOffer* offer)
{
    const SignedFiles signedFiles = signedFilesOf(offer != nullptr ? &offer->release : nullptr);
    FileIndex index(std::move(manifest));
    DigestCache cache;
    DigestCache* const digestCache = useDigestCache ? &cache : nullptr;
    scanLocalFiles(index, scannedFolderList(), digestCache);
    removeStalePartials(index.remoteDigests);
    const std::vector<std::string> changed = index.changedFiles();
    if (changed.empty())
        return gameIsWhole(index, digestCache, offer, console);
    console.updatesFound();
    std::vector<PlannedDownload> plan;
    if (!planDownloads(channel, changed, signedFiles, console, plan))
        return {false, 0};
    UpdateDownloads downloads(channel, transport, index, signedFiles, digestCache, console, heldWaitMilliseconds);
    const bool failed = !downloads.fetch(plan);
    if (digestCache != nullptr)
        digestCache->save(digestCacheFileName, index.remoteDigests);
    if (failed) {
        console.canceled();
        return {false, 0};
    }
    console.launching();
    acceptRelease(offer, index.remoteDigests);
    return {true, downloads.ownFiles()};
}
