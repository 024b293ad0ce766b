#include "publisher/chunk_index_files.h"

#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "digest/sha256.h"
#include "publisher/channel_objects.h"

bool isChunkIndexEntry(const ReleaseEntry& entry, const std::set<std::string>& manifestPaths)
{
    return manifestPaths.count(entry.path) == 0 && hasSuffix(entry.path, chunkIndexEntrySuffix);
}

bool storeChunkIndex(const ChannelDirectory& channel, const std::string& path, const std::string& bytes,
                     ReleaseEntry& entry, std::string& failure)
{
    entry = {sha256Hex(bytes), bytes.size(), path + chunkIndexEntrySuffix};
    return storeBytesObject(channel, bytes, entry.sha256, failure);
}
