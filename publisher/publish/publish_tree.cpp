#include "publisher/publish/publish_tree.h"

#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "channel/manifest.h"
#include "channel/manifest_path.h"
#include "digest/sha256.h"
#include "publisher/console/deployer_output.h"
#include "publisher/console/shown_text.h"
#include "publisher/folder/channel_files.h"
#include "publisher/folder/previous_manifest.h"
#include "publisher/folder/written_journal.h"
#include "publisher/release/channel_objects.h"
#include "publisher/release/chunk_index_files.h"
#include "publisher/release/object_check.h"
#include "publisher/release/release_retention.h"
#include "publisher/signals/interruption.h"
#include "publisher/source/channel_copy.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

}  // namespace

bool makeChannelDirectory(const fs::path& directory, std::string& failure)
{
    fs::path made;
    for (const fs::path& part : directory) {
        made /= part;
        std::error_code error;
        if (fs::create_directory(made, error))
            fs::permissions(made, fs::perms(0755), error);  // whatever the umask: the web server must enter it
        if (error) {
            failure = "cannot create " + made.string() + ": " + error.message();
            return false;
        }
    }
    return true;
}

bool raiseLock(const ChannelDirectory& channel, bool& wasUp, std::string& failure)
{
    wasUp = channel.kindOf(channelLockName) != ChannelDirectory::Kind::missing;
    // What a killed run left: never served, never ours to keep.
    const std::string suffix = publisherTemporarySuffix;
    for (const std::string& directory :
         {std::string(), std::string(libraryDirectoryName), std::string(objectsDirectoryName)}) {
        std::vector<std::string> names;
        channel.list(directory, names);
        for (const std::string& name : names) {
            const std::string path = directory.empty() ? name : directory + "/" + name;
            std::string ignored;
            if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                isSafeManifestPath(path) && channel.kindOf(path) == ChannelDirectory::Kind::regular)
                channel.removeFile(path, ignored);
        }
    }
    const std::string startedAt = utcNow();
    if (!writeAtomically(channel, channelLockName, startedAt, failure))
        return false;
    reportLine("Lock raised: update started at " + startedAt);
    return true;
}

bool lowerUnchangedLock(const ChannelDirectory& channel, std::string& failure)
{
    WrittenJournal journal(channel);
    return journal.clear(failure) && channel.removeFile(channelLockName, failure);
}

namespace {

bool interrupted(std::string& failure)
{
    if (interruptingSignal() == 0)
        return false;
    failure = std::string("interrupted by ") + signalName(interruptingSignal());
    return true;
}

// Lists a source file with the digests of its bytes: those read from it
// when the channel's copy holds the same bytes, else those of a fresh copy.
bool publishFile(const ChannelDirectory& channel, const SourceFile& file, bool signs, WrittenJournal& journal,
                 FileDigests& digests, HashedFiles& hashed, PublishSummary& summary, std::string& failure)
{
    if (!digestsIfAlreadyPublished(channel, file, signs, digests, hashed, failure))
        return false;
    if (!digests.read) {
        if (!journal.add(file.path, failure) || !copyIntoChannel(channel, file, signs, digests, failure))
            return false;
        summary.channelChanged = true;
        ++summary.copied;
        summary.linked += digests.linked ? 1 : 0;
        summary.bytesCopied += digests.linked ? 0 : digests.size;
    }
    if (signs && digests.inode != 0)
        hashed[{digests.device, digests.inode}] = digests.sha256;
    return true;
}

// Only what a manifest listed or a run of ours wrote is ours to remove,
// and only a regular file: never a directory, never through a link. The
// chunk indexes are not: a planted md5sums naming one just stored would
// have it removed from under the new release.
bool removeUnlisted(const ChannelDirectory& channel, const std::set<std::string>& removable,
                    const std::set<std::string>& listedNow, HashedFiles& hashed, PublishSummary& summary,
                    std::string& failure)
{
    const std::string indexFolder = std::string(objectsDirectoryName) + "/";
    for (const std::string& path : removable) {
        if (listedNow.count(path) != 0 || path == channelLockName || path == channelManifestName ||
            path == channelReleaseName || path.compare(0, indexFolder.size(), indexFolder) == 0 ||
            channel.kindOf(path) != ChannelDirectory::Kind::regular)
            continue;
        summary.channelChanged = true;
        hashIfShared(channel, path, hashed);
        if (!channel.removeFile(path, failure))
            return false;
        reportLine("- " + shownText(path) + " removed");  // the server's manifest named it
        ++summary.removed;
    }
    return true;
}

// Publishes every file of the tree, making the manifest, and with `signing`
// the release's entries: the files', then one per chunk index stored; each
// file also gets its object's name.
bool publishFiles(const SourceTree& tree, const ChannelDirectory& channel, bool signs, WrittenJournal& journal,
                  std::string& manifest, std::vector<ReleaseEntry>& signedEntries, HashedFiles& hashed,
                  PublishSummary& summary, std::string& failure)
{
    std::vector<ReleaseEntry> indexEntries;
    std::set<std::string> objects;
    for (const SourceFile& file : tree.files) {
        if (interrupted(failure))
            return false;
        FileDigests digests;
        if (!publishFile(channel, file, signs, journal, digests, hashed, summary, failure))
            return false;
        manifest += manifestLine(digests.md5, file.path);
        signedEntries.push_back({digests.sha256, digests.size, file.path});
        ++summary.files;
        if (signs && objects.insert(digests.sha256).second && !storeFileObject(channel, file.path, digests, failure))
            return false;
        // Larger than launchers read: they download that file whole.
        if (digests.chunkIndex.empty() || digests.chunkIndex.size() > largestChunkIndexBytes)
            continue;
        indexEntries.emplace_back();
        if (!storeChunkIndex(channel, file.path, digests.chunkIndex, indexEntries.back(), failure))
            return false;
        indexEntries.emplace_back();
        if (!storeBlockSums(channel, file.path, digests.blockSums, indexEntries.back(), failure))
            return false;
    }
    signedEntries.insert(signedEntries.end(), indexEntries.begin(), indexEntries.end());
    return true;
}

// Stores md5sums as an object and says so in the release, which goes in
// place last, once every object it names is there; then removes the objects
// that none of the last releases kept names, and checks that every object
// the release names is still there and whole.
bool writeRelease(const ChannelDirectory& channel, const ReleaseSigning& signing, const std::string& manifest,
                  std::vector<ReleaseEntry>& entries, HashedFiles& hashed, std::vector<std::string>& warnings,
                  std::string& failure)
{
    const std::string manifestSha256 = sha256Hex(manifest);
    if (!storeBytesObject(channel, manifest, manifestSha256, failure))
        return false;
    entries.push_back(contentAddressMarker(manifestSha256, manifest.size()));
    // On disk before the release that names them: a cache keeps an object
    // for a year, and one cut short by a power loss would be served as long.
    if (::syncfs(channel.descriptor()) != 0) {
        failure = "cannot force the channel's files to disk: " + std::string(std::strerror(errno));
        return false;
    }
    if (!writeAtomically(channel, channelReleaseName, signedReleaseText(signing, manifest, entries), failure))
        return false;
    Release written;
    written.serial = signing.serial;
    written.manifestSha256 = manifestSha256;
    written.files = entries;
    keepLastReleases(channel, signing.current, written, signing.keepReleases, hashed, warnings);
    return releaseObjectsWhole(channel, written, hashed, failure);
}

}  // namespace

bool publishChannel(const SourceTree& tree, const ChannelDirectory& channel, unsigned holdLockSeconds,
                    const ReleaseSigning* signing, PublishSummary& summary, std::vector<std::string>& warnings,
                    std::string& failure)
{
    if (holdLockSeconds > 0) {
        reportLine("Holding the lock for " + std::to_string(holdLockSeconds) + " s");
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(holdLockSeconds);
        while (std::chrono::steady_clock::now() < until && !interrupted(failure))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (interrupted(failure))
            return false;
    }

    std::set<std::string> removable = previouslyListed(channel, warnings);
    WrittenJournal journal(channel);
    for (const std::string& path : journal.read(warnings)) {
        if (isSafeManifestPath(path))
            removable.insert(path);
    }
    std::string manifest;
    std::vector<ReleaseEntry> signedEntries;
    HashedFiles hashed;
    if (!publishFiles(tree, channel, signing != nullptr, journal, manifest, signedEntries, hashed, summary, failure))
        return false;
    std::set<std::string> listedNow;
    for (const SourceFile& file : tree.files)
        listedNow.insert(file.path);
    // The last moment to stop with the channel still whole: from here on it is quicker to finish.
    if (interrupted(failure))
        return false;
    finishRegardless();
    if (!removeUnlisted(channel, removable, listedNow, hashed, summary, failure))
        return false;
    summary.channelChanged = true;

    if (!writeAtomically(channel, channelManifestName, manifest, failure))
        return false;
    if (signing != nullptr && !writeRelease(channel, *signing, manifest, signedEntries, hashed, warnings, failure))
        return false;
    if (!journal.clear(failure))
        return false;
    if (channel.kindOf(channelLockName) != ChannelDirectory::Kind::regular) {
        failure = "cannot remove the lock " + channel.shown(channelLockName) + ": someone else removed it meanwhile";
        return false;
    }
    return channel.removeFile(channelLockName, failure);
}
