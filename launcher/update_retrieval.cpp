#include "launcher/update_retrieval.h"

#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "index/file_index.h"
#include "launcher/accepted_release.h"
#include "launcher/accepted_serials.h"
#include "launcher/build_constants.h"
#include "launcher/console_text.h"
#include "launcher/download.h"
#include "launcher/game_directory.h"
#include "launcher/local_scan.h"
#include "launcher/partial_download.h"
#include "launcher/platform/platform.h"
#include "channel/manifest_path.h"
#include "launcher/uri_escape.h"

#include <iostream>
#include <memory>
#include <unordered_map>
#include <utility>

namespace {

const char* const doneText = " Done";
const char* const noUpdatesText = "No updates found, starting ORN...";
const char* const updatesFoundText = "Updates found, retrieving updated files:";
const char* const entryPrefix = "* ";
const char* const entrySuffix = "...";
const char* const entryDoneText = " Done.";
const char* const entryFailedText = " Failed.";
const char* const canceledText = "Some updated files failed to be retrieved, canceling launch.";
const char* const launchingText = "Updated files retrieved, patching and launching ORN...";

// What a signed release says of the files: each one's size and SHA-256 (and
// its chunk index's), and whether the channel keeps them under those names.
struct SignedFiles {
    const Release* release = nullptr;
    std::unordered_map<std::string, ReleaseEntry> entries;
    bool contentAddressed = false;
};

// True when the file arrived whole and verified and is in place under its local name.
bool downloadEntry(const UpdateChannel& channel, const FileIndex& index, const SignedFiles& signedFiles,
                   const std::string& path, const std::string& localName, DownloadProgress* progress)
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
        if (chunkIndex != signedFiles.entries.end())
            delta = std::make_unique<DeltaSource>(
                DeltaSource{channel.directory + objectPathOf(chunkIndex->second.sha256), chunkIndex->second, path});
    }
    return downloadFile(channel.server, uri, path, index.remoteDigests.at(path), signedEntry, localName, delta.get(),
                        progress);
}

// Raised only once the whole update is in place: a failed run may be retried with the same release.
// The record first: a serial raised without it would only refuse a stale edge, as before.
void acceptRelease(const UpdateChannel& channel, const Release* release, const std::string& acceptedRecord)
{
    if (release == nullptr)
        return;
    recordAcceptedRelease(acceptedRecord);
    recordAcceptedSerial(channel.name, release->serial);
}

}  // namespace

UpdateOutcome retrieveUpdates(const UpdateChannel& channel, Manifest manifest, const Release* release,
                              const std::string& acceptedRecord)
{
    SignedFiles signedFiles;
    if (release != nullptr) {
        signedFiles.release = release;
        for (const ReleaseEntry& entry : release->files)
            signedFiles.entries.emplace(entry.path, entry);
        signedFiles.contentAddressed = isContentAddressed(*release);
    }
    FileIndex index(std::move(manifest));
    DigestCache cache;
    DigestCache* const digestCache = buildDigestCache ? &cache : nullptr;
    scanLocalFiles(index, digestCache);
    removeStalePartials(index.remoteDigests);
    const std::vector<std::string> changed = index.changedFiles();

    if (changed.empty()) {
        std::cout << doneText << std::endl << noUpdatesText << std::endl;
        if (digestCache != nullptr)
            digestCache->save(digestCacheFileName, index.remoteDigests);
        acceptRelease(channel, release, acceptedRecord);
        return {true, 0};
    }

    bool failed = false;
    std::cout << doneText << std::endl << updatesFoundText << std::endl;
    SelfFileFlags flags = 0;

    for (const std::string& path : changed) {
        if (path == channel.lockFile || path == channel.manifestFile)
            continue;

        SelfFileFlags entryBit = 0;
        const std::string localName = localNameOf(path, &entryBit);

        // A name is the server's text too: shown without what a terminal would act on.
        const std::string entryLine = entryPrefix + printableOnOneLine(path) + entrySuffix;
        std::cout << entryLine;
        std::cout.flush();

        std::unique_ptr<DownloadProgress> progress;
        if (platform::standardOutputIsConsole())
            progress = std::make_unique<DownloadProgress>(entryLine);
        const bool downloaded = downloadEntry(channel, index, signedFiles, path, localName, progress.get());
        if (progress)
            progress->finish();
        if (downloaded) {
            flags = static_cast<SelfFileFlags>(flags | entryBit);
            if (digestCache != nullptr && entryBit == 0)
                recordDownloadedFile(*digestCache, path, index.remoteDigests.at(path));
            std::cout << entryDoneText << std::endl;
        } else {
            failed = true;
            std::cout << entryFailedText << std::endl;
        }
    }

    if (digestCache != nullptr)
        digestCache->save(digestCacheFileName, index.remoteDigests);
    if (failed) {
        std::cout << canceledText << std::endl;
        return {false, 0};
    }
    std::cout << launchingText << std::endl << std::endl;
    acceptRelease(channel, release, acceptedRecord);
    return {true, flags};
}
