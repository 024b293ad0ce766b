#include "launcher/update_downloads.h"

#include "channel/block_sums.h"
#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "channel/manifest_path.h"
#include "index/game_directory.h"
#include "index/local_scan.h"
#include "launcher/download/download.h"
#include "launcher/download/partial_download.h"
#include "launcher/download/pipelined_files.h"
#include "launcher/http/uri_escape.h"
#include "launcher/log/run_log.h"
#include "platform/held_file_retry.h"
#include "platform/platform.h"

#include <memory>

namespace {

// A verified file that another program held: put in place once it lets go, within the wait.
Downloaded placeOnceLetGo(const std::string& localName, unsigned int heldWaitMilliseconds, Console& console)
{
    console.fileHeld(localName, heldWaitMilliseconds / 1000);
    const bool placed =
        platform::retryWhileHeld([&] { return putPartialInPlace(localName); }, nullptr, heldWaitMilliseconds);
    return placed ? Downloaded::placed : Downloaded::held;
}

// What the download of `path` asks for and checks, and the delta that may
// build it from its old copy; false when the file cannot be fetched at all.
bool entryFor(const UpdateChannel& channel, const FileIndex& index, const SignedFiles& signedFiles,
              const PlannedDownload& file, FetchedEntry& entry, std::unique_ptr<DeltaSource>& delta)
{
    const std::string& path = file.path;
    if (!isSafeManifestPath(path))
        return false;
    entry = {channel.directory + escapeUriPath(path), path, index.remoteDigests.at(path), nullptr, file.localName};
    if (signedFiles.release == nullptr)
        return true;
    const auto found = signedFiles.entries.find(path);
    if (found == signedFiles.entries.end())
        return false;
    entry.signedEntry = &found->second;
    if (signedFiles.contentAddressed)
        entry.uri = channel.directory + objectPathOf(entry.signedEntry->sha256);
    const auto chunkIndex = signedFiles.entries.find(path + chunkIndexEntrySuffix);
    const auto blockSums = signedFiles.entries.find(path + blockSumsEntrySuffix);
    if (chunkIndex != signedFiles.entries.end())
        delta = std::make_unique<DeltaSource>(
            DeltaSource{channel.directory + objectPathOf(chunkIndex->second.sha256), chunkIndex->second, path, "", {}});
    if (delta != nullptr && blockSums != signedFiles.entries.end()) {
        delta->blockSumsUri = channel.directory + objectPathOf(blockSums->second.sha256);
        delta->blockSums = blockSums->second;
    }
    return true;
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

}  // namespace

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

bool UpdateDownloads::fetch(const std::vector<PlannedDownload>& plan)
{
    bool failed = false;
    for (std::size_t next = 0; next < plan.size();) {
        std::size_t asked = 0;
        PipelinedFiles run = fetchPipelined(plan, next, asked);
        next += run.placed;
        if (asked > 0 && run.placed == asked)
            continue;
        // The file after them: in no run, or the first of one not placed, with those placed after it.
        const Downloaded downloaded = fetchAlone(plan[next], std::move(run.begun));
        failed = failed || downloaded != Downloaded::placed;
        for (++next; run.placedAfter > 0; --run.placedAfter, ++next) {
            console_.fileStarted(plan[next].path);
            placed(plan[next].path);
        }
        if (downloaded == Downloaded::diskFull)
            break;  // every later file would fill it again: no byte more is fetched to be thrown away
    }
    return !failed;
}

// The files from `from` on that each come in one answer, pipelined; `asked`: how many went in the run.
PipelinedFiles UpdateDownloads::fetchPipelined(const std::vector<PlannedDownload>& plan, std::size_t from,
                                               std::size_t& asked)
{
    if (!transport_.pipelines())
        return {};
    std::vector<FetchedEntry> entries;
    for (std::size_t i = from; i < plan.size() && entries.size() < pipelinedRunFiles; ++i) {
        FetchedEntry entry;
        std::unique_ptr<DeltaSource> delta;
        platform::FileFacts oldCopy;
        if (!entryFor(channel_, index_, signedFiles_, plan[i], entry, delta) ||
            !fitsOneAnswer(entry, downloadPieceBytes) ||
            (delta != nullptr && platform::fileFacts(delta->oldCopy, oldCopy)))  // a delta may build it
            break;
        entries.push_back(std::move(entry));
    }
    asked = entries.size();
    return downloadPipelined(transport_, entries, downloadPieceBytes, [&](std::size_t i) {
        console_.fileStarted(plan[from + i].path);
        placed(plan[from + i].path);
    });
}

// One file's download with its own requests; how it ended, told on the console.
// `begun`: its first piece is in, from a pipelined run.
Downloaded UpdateDownloads::fetchAlone(const PlannedDownload& file, std::unique_ptr<FileFetch> begun)
{
    FileProgress* const progress = console_.fileStarted(file.path);
    FetchedEntry entry;
    std::unique_ptr<DeltaSource> delta;
    Downloaded downloaded = Downloaded::failed;
    if (entryFor(channel_, index_, signedFiles_, file, entry, delta)) {
        downloaded = begun != nullptr ? finishDownload(*begun, entry, progress)
                                      : downloadFile(transport_, entry, delta.get(), progress);
        // A copy that fails its check, or a mirror still syncing (404): the next server is asked, each at
        // most once; whole pieces kept are resumed there.
        for (std::size_t tried = 1; downloaded == Downloaded::failed && tried < transport_.serverCount(); ++tried) {
            noteInRunLog(file.path + ": failed from this server, asking the next");
            transport_.passOver();
            downloaded = downloadFile(transport_, entry, delta.get(), progress);
        }
    }
    if (downloaded == Downloaded::held && heldWaitMilliseconds_ > 0)
        downloaded = placeOnceLetGo(file.localName, heldWaitMilliseconds_, console_);
    if (downloaded == Downloaded::placed) {
        placed(file.path);
        return downloaded;
    }
    // A file held past the wait: the game is likely running, and later files get one try, not a wait each.
    if (tellFailed(downloaded, file.localName, console_))
        heldWaitMilliseconds_ = 0;
    return downloaded;
}

void UpdateDownloads::placed(const std::string& path)
{
    SelfFileFlags ownBit = 0;
    localNameOf(path, &ownBit);
    ownFiles_ = static_cast<SelfFileFlags>(ownFiles_ | ownBit);
    if (digestCache_ != nullptr && ownBit == 0)
        recordDownloadedFile(*digestCache_, path, index_.remoteDigests.at(path));
    console_.fileDone();
}
