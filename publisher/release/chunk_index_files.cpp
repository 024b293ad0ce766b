#include "publisher/release/chunk_index_files.h"

#include "channel/block_sums.h"
#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "channel/rollout.h"
#include "digest/sha256.h"
#include "publisher/release/channel_objects.h"

#include <algorithm>

bool isChunkIndexEntry(const ReleaseEntry& entry, const std::set<std::string>& manifestPaths)
{
    return manifestPaths.count(entry.path) == 0 && hasSuffix(entry.path, chunkIndexEntrySuffix);
}

bool isDeltaEntry(const ReleaseEntry& entry, const std::set<std::string>& manifestPaths)
{
    return isChunkIndexEntry(entry, manifestPaths) ||
           (manifestPaths.count(entry.path) == 0 && hasSuffix(entry.path, blockSumsEntrySuffix));
}

std::size_t chunkIndexEntries(const Release& release)
{
    // No file of a release tree may carry the suffix: the name alone tells an index.
    const std::set<std::string> noFiles;
    const auto isIndex = [&noFiles](const ReleaseEntry& entry) { return isChunkIndexEntry(entry, noFiles); };
    return static_cast<std::size_t>(std::count_if(release.files.begin(), release.files.end(), isIndex));
}

std::vector<ReleaseEntry> gameFileEntries(const Release& release)
{
    const std::set<std::string> noFiles;
    std::vector<ReleaseEntry> files;
    for (const ReleaseEntry& entry : release.files)
        if (!isDeltaEntry(entry, noFiles) && !isContentAddressMarker(entry, release) && !isRolloutEntry(entry))
            files.push_back(entry);
    return files;
}

bool storeChunkIndex(const ChannelDirectory& channel, const std::string& path, const std::string& bytes,
                     ReleaseEntry& entry, std::string& failure)
{
    entry = {sha256Hex(bytes), bytes.size(), path + chunkIndexEntrySuffix};
    return storeBytesObject(channel, bytes, entry.sha256, failure);
}

bool storeBlockSums(const ChannelDirectory& channel, const std::string& path, const std::string& bytes,
                    ReleaseEntry& entry, std::string& failure)
{
    entry = {sha256Hex(bytes), bytes.size(), path + blockSumsEntrySuffix};
    return storeBytesObject(channel, bytes, entry.sha256, failure);
}
