#include "publisher/rollout/staged_tree.h"

#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "channel/manifest.h"
#include "digest/sha256.h"
#include "publisher/folder/channel_files.h"
#include "publisher/release/channel_objects.h"
#include "publisher/release/chunk_index_files.h"
#include "publisher/release/object_check.h"
#include "publisher/signals/interruption.h"
#include "publisher/source/copy_progress.h"
#include "publisher/source/one_read.h"
#include "publisher/source/source_version.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// Ends in the publisher's temporary suffix: what a killed run leaves of it is removed by the next publish.
const std::string incomingObject = std::string(objectsDirectoryName) + "/staged" + publisherTemporarySuffix;

// Copies the source file to the incoming object's name; its bytes must be those read before.
bool copyIncoming(const ChannelDirectory& channel, const SourceFile& file, const FileDigests& digests,
                  std::string& failure)
{
    const ScopedDescriptor in = openSource(file);
    ScopedDescriptor out = in.get() < 0 ? ScopedDescriptor() : channel.createFresh(incomingObject, failure);
    if (in.get() < 0 || out.get() < 0) {
        failure = in.get() < 0 ? "cannot read " + file.location.string() + ": " + std::strerror(errno) : failure;
        return false;
    }
    CopyProgress progress(file.path, digests.size);
    FileDigests copied;
    const bool written = copyWhole(in.get(), out.get(), true, 0, progress, copied);
    const int cause = errno;
    const bool closed = out.close();
    progress.finish(written && closed && copied.sha256 == digests.sha256);
    if (written && closed && copied.sha256 == digests.sha256)
        return true;
    failure = !written || !closed ? "cannot copy " + file.path + " to " + channel.shown(incomingObject) + ": " +
                                        std::strerror(written ? errno : cause)
                                  : file.location.string() + " changed while it was read: publish again once its "
                                                             "build has finished";
    return false;
}

// The source file's digests, and its bytes as the object named by them.
bool stageFile(const ChannelDirectory& channel, const SourceFile& file, FileDigests& digests, HashedFiles& hashed,
               StagedSummary& summary, std::string& failure)
{
    {
        const ScopedDescriptor in = openSource(file);
        digests = in.get() < 0 ? FileDigests() : readWhole(in.get(), true, versionOf(file.location).size);
    }
    if (!digests.read) {
        failure = "cannot read " + file.location.string() + ": " + std::strerror(errno);
        return false;
    }
    if (checkObject(channel, digests.sha256, digests.size, hashed) == ObjectState::whole)
        return true;
    std::string ignored;
    if (!channel.makeDirectories(objectsDirectoryName, failure))
        return false;
    if (!copyIncoming(channel, file, digests, failure)) {
        channel.removeFile(incomingObject, ignored);
        return false;
    }
    ++summary.copied;
    summary.bytesCopied += digests.size;
    return putInPlace(channel, incomingObject, objectPathOf(digests.sha256), failure);
}

// A large file's chunk index and block sums, as objects, with their release lines.
bool stageDeltaSources(const ChannelDirectory& channel, const SourceFile& file, const FileDigests& digests,
                       std::vector<ReleaseEntry>& entries, std::string& failure)
{
    // Larger than launchers read: they download that file whole.
    if (digests.chunkIndex.empty() || digests.chunkIndex.size() > largestChunkIndexBytes)
        return true;
    entries.emplace_back();
    if (!storeChunkIndex(channel, file.path, digests.chunkIndex, entries.back(), failure))
        return false;
    entries.emplace_back();
    return storeBlockSums(channel, file.path, digests.blockSums, entries.back(), failure);
}

}  // namespace

bool stageTree(const SourceTree& tree, const ChannelDirectory& channel, Release& staged, StagedSummary& summary,
               std::string& failure)
{
    staged = Release();
    std::string manifest;
    std::vector<ReleaseEntry> indexEntries;
    HashedFiles hashed;
    for (const SourceFile& file : tree.files) {
        if (interruptingSignal() != 0) {
            failure = std::string("interrupted by ") + signalName(interruptingSignal());
            return false;
        }
        FileDigests digests;
        if (!stageFile(channel, file, digests, hashed, summary, failure) ||
            !stageDeltaSources(channel, file, digests, indexEntries, failure))
            return false;
        manifest += manifestLine(digests.md5, file.path);
        staged.files.push_back({digests.sha256, digests.size, file.path});
        ++summary.files;
    }
    staged.files.insert(staged.files.end(), indexEntries.begin(), indexEntries.end());
    staged.manifestSha256 = sha256Hex(manifest);
    staged.files.push_back(contentAddressMarker(staged.manifestSha256, manifest.size()));
    return storeBytesObject(channel, manifest, staged.manifestSha256, failure);
}
