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

// True when the file arrived whole and verified and is in place under its local name.
bool downloadEntry(const UpdateChannel& channel, Transport& transport, const FileIndex& index,
                   const SignedFiles& signedFiles, const std::string& path, const std::string& localName,
                   FileProgress* progress)
{
    if (!isSafeManifestPath(path))
        return false;
    const ReleaseEntry* signedEntry = nullptr;
    std::unique_ptr<DeltaSource> delta;
    std::string uri = channel.directory + escapeUriPath(path);
    if (signedFiles.release != nullptr) {
        const auto found = signedFiles.entries.find(path);
        if (found == signedFiles.entries.end())
            return false;
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

}  // namespace

UpdateOutcome retrieveUpdates(const UpdateChannel& channel, bool useDigestCache, Transport& transport, Console& console,
                              Manifest manifest, const SignedOffer* offer)
{
    const SignedFiles signedFiles = signedFilesOf(offer != nullptr ? &offer->release : nullptr);
    FileIndex index(std::move(manifest));
    DigestCache cache;
    DigestCache* const digestCache = useDigestCache ? &cache : nullptr;
    scanLocalFiles(index, scannedFolderList(), digestCache);
    removeStalePartials(index.remoteDigests);
    const std::vector<std::string> changed = index.changedFiles();

    if (changed.empty()) {
        console.noUpdates();
        if (digestCache != nullptr)
            digestCache->save(digestCacheFileName, index.remoteDigests);
        acceptRelease(offer, index.remoteDigests);
        return {true, 0};
    }

    bool failed = false;
    console.updatesFound();
    SelfFileFlags flags = 0;
    for (const std::string& path : changed) {
        // The launcher's records are its own (its log is being written): never files to fetch over them.
        if (path == channel.lockFile || path == channel.manifestFile || isLauncherRecord(path))
            continue;
        SelfFileFlags entryBit = 0;
        const std::string localName = localNameOf(path, &entryBit);
        FileProgress* const progress = console.fileStarted(path);
        if (downloadEntry(channel, transport, index, signedFiles, path, localName, progress)) {
            flags = static_cast<SelfFileFlags>(flags | entryBit);
            if (digestCache != nullptr && entryBit == 0)
                recordDownloadedFile(*digestCache, path, index.remoteDigests.at(path));
            console.fileDone();
        } else {
            failed = true;
            console.fileFailed();
        }
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
