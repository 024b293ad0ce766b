#include "launcher/update_retrieval.h"

#include "channel/block_sums.h"
#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "channel/manifest_path.h"
#include "index/file_index.h"
#include "index/local_scan.h"
#include "launcher/release/accepted_release.h"
#include "launcher/release/accepted_serials.h"
#include "launcher/release/retired_files.h"
#include "launcher/download/download.h"
#include "launcher/download/partial_download.h"
#include "index/game_directory.h"
#include "launcher/http/uri_escape.h"
#include "launcher/log/run_log.h"
#include "launcher/update_preflight.h"
#include "platform/held_file_retry.h"
#include "platform/platform.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <unordered_map>
#include <utility>

namespace {

// What a signed release says of the files: each one's size and SHA-256 (and
// its chunk index's), and whether the channel keeps them under those names.
struct SignedFiles {
    const Release* release = nullptr;
    std::unordered_map<std::string, ReleaseEntry> entries;
    bool contentAddressed = false;
};

// A verified file that another program held: put in place once it lets go, within the wait.
Downloaded placeOnceLetGo(const std::string& localName, unsigned int heldWaitMilliseconds, Console& console)
{
    console.fileHeld(localName, heldWaitMilliseconds / 1000);
    const bool placed =
        platform::retryWhileHeld([&] { return putPartialInPlace(localName); }, nullptr, heldWaitMilliseconds);
    return placed ? Downloaded::placed : Downloaded::held;
}

// How the file ended: placed when it arrived whole and verified and is in place under its local name.
Downloaded downloadEntry(const UpdateChannel& channel, Transport& transport, const FileIndex& index,
                         const SignedFiles& signedFiles, const std::string& path, const std::string& localName,
                         FileProgress* progress)
{
    if (!isSafeManifestPath(path))
        return Downloaded::failed;
    const ReleaseEntry* signedEntry = nullptr;
    std::unique_ptr<DeltaSource> delta;
    std::string uri = channel.directory + escapeUriPath(path);
    if (signedFiles.release != nullptr) {
        const auto found = signedFiles.entries.find(path);
        if (found == signedFiles.entries.end())
            return Downloaded::failed;
        signedEntry = &found->second;
        if (signedFiles.contentAddressed)
            uri = channel.directory + objectPathOf(signedEntry->sha256);
        const auto chunkIndex = signedFiles.entries.find(path + chunkIndexEntrySuffix);
        const auto blockSums = signedFiles.entries.find(path + blockSumsEntrySuffix);
        if (chunkIndex != signedFiles.entries.end())
            delta = std::make_unique<DeltaSource>(DeltaSource{
                channel.directory + objectPathOf(chunkIndex->second.sha256), chunkIndex->second, path, "", {}});
        if (delta != nullptr && blockSums != signedFiles.entries.end()) {
            delta->blockSumsUri = channel.directory + objectPathOf(blockSums->second.sha256);
            delta->blockSums = blockSums->second;
        }
    }
    const FetchedEntry entry{uri, path, index.remoteDigests.at(path), signedEntry, localName};
    return downloadFile(transport, entry, delta.get(), progress);
}

// A file that failed on one server (a body that fails its check, a mirror still syncing that answers 404
// for it) is asked of the next, each at most once; what the last one kept is resumed there.
Downloaded downloadFromAnyServer(const UpdateChannel& channel, Transport& transport, const FileIndex& index,
                                 const SignedFiles& signedFiles, const std::string& path, const std::string& localName,
                                 FileProgress* progress)
{
    Downloaded downloaded = downloadEntry(channel, transport, index, signedFiles, path, localName, progress);
    for (std::size_t tried = 1; downloaded == Downloaded::failed && tried < transport.serverCount(); ++tried) {
        noteInRunLog(path + ": failed from this server, asking the next");
        transport.passOver();
        downloaded = downloadEntry(channel, transport, index, signedFiles, path, localName, progress);
    }
    return downloaded;
}

// Raised only once the whole update is in place: a failed run may be retried with the same release.
// The record first: a serial raised without it would only refuse a stale edge, as before. What the
// release accepted before listed and this one does not goes just before: that record tells it.
void acceptRelease(const SignedOffer* offer, const std::unordered_map<std::string, std::string>& listedNow)
{
    if (offer == nullptr)
        return;
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

SignedFiles signedFilesOf(const Release* release)
{
    SignedFiles signedFiles;
    if (release == nullptr)
        return signedFiles;
    signedFiles.release = release;
    for (const ReleaseEntry& entry : release->files)
        signedFiles.entries.emplace(entry.path, entry);
    signedFiles.contentAddressed = isContentAddressed(*release);
    return signedFiles;
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

// Tells that a file failed and, where known, why: what held it, or the full disk; true when held.
bool tellFailed(Downloaded downloaded, const std::string& localName, Console& console)
{
    console.fileFailed();
    if (downloaded == Downloaded::held)
        console.fileStillHeld(localName);
    if (downloaded == Downloaded::diskFull) {
        platform::FileFacts kept;
        console.diskFull(localName, platform::fileFacts(partialNameFor(localName), kept));
    }
    return downloaded == Downloaded::held;
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
    bool failed = false;
    SelfFileFlags flags = 0;
    for (const PlannedDownload& file : plan) {
        const std::string& path = file.path;
        SelfFileFlags entryBit = 0;
        const std::string localName = localNameOf(path, &entryBit);
        FileProgress* const progress = console.fileStarted(path);
        Downloaded downloaded =
            downloadFromAnyServer(channel, transport, index, signedFiles, path, localName, progress);
        if (downloaded == Downloaded::held && heldWaitMilliseconds > 0)
            downloaded = placeOnceLetGo(localName, heldWaitMilliseconds, console);
        if (downloaded == Downloaded::placed) {
            flags = static_cast<SelfFileFlags>(flags | entryBit);
            if (digestCache != nullptr && entryBit == 0)
                recordDownloadedFile(*digestCache, path, index.remoteDigests.at(path));
            console.fileDone();
            continue;
        }
        failed = true;
        // A file held past the wait: the game is likely running, and later files get one try, not a wait each.
        heldWaitMilliseconds = tellFailed(downloaded, localName, console) ? 0 : heldWaitMilliseconds;
        if (downloaded == Downloaded::diskFull)
            break;  // every later file would fill it again: no byte more is fetched to be thrown away
    }
    if (digestCache != nullptr)
        digestCache->save(digestCacheFileName, index.remoteDigests);
    if (failed) {
        console.canceled();
        return {false, 0};
    }
    console.launching();
    acceptRelease(offer, index.remoteDigests);
    return {true, flags};
}
