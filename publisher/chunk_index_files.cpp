#include "publisher/chunk_index_files.h"

#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/sha256.h"
#include "publisher/channel_files.h"

namespace {

bool isIndexName(const std::string& name)
{
    if (name.size() != 64)
        return false;
    for (const char c : name) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// Whether the channel already holds exactly these bytes at `path`.
bool holds(const ChannelDirectory& channel, const std::string& path, const std::string& bytes)
{
    unsigned long long size = 0;
    if (channel.kindOf(path, &size) != ChannelDirectory::Kind::regular || size != bytes.size())
        return false;
    std::string present;
    bool missing = false;
    std::string ignored;
    return channel.readFile(path, bytes.size(), present, missing, ignored) && present == bytes;
}

}  // namespace

std::string chunkIndexPath(const std::string& sha256)
{
    return std::string(chunkIndexDirectoryName) + "/" + sha256;
}

bool isChunkIndexEntry(const ReleaseEntry& entry, const std::set<std::string>& manifestPaths)
{
    return manifestPaths.count(entry.path) == 0 && hasSuffix(entry.path, chunkIndexEntrySuffix);
}

bool storeChunkIndex(const ChannelDirectory& channel, const std::string& path, const std::string& bytes,
                     ReleaseEntry& entry, std::string& failure)
{
    entry = {sha256Hex(bytes), bytes.size(), path + chunkIndexEntrySuffix};
    const std::string stored = chunkIndexPath(entry.sha256);
    // A file planted under that name is replaced, never trusted: only the same bytes are kept.
    if (holds(channel, stored, bytes))
        return true;
    return channel.makeDirectories(chunkIndexDirectoryName, failure) &&
           writeAtomically(channel, stored, bytes, failure);
}

std::set<std::string> chunkIndexesNamed(const Release& release)
{
    std::set<std::string> named;
    for (const ReleaseEntry& entry : release.files) {
        if (hasSuffix(entry.path, chunkIndexEntrySuffix))
            named.insert(entry.sha256);
    }
    return named;
}

void removeUnnamedChunkIndexes(const ChannelDirectory& channel, const std::set<std::string>& kept,
                               std::vector<std::string>& warnings)
{
    std::vector<std::string> names;
    if (channel.kindOf(chunkIndexDirectoryName) != ChannelDirectory::Kind::directory ||
        !channel.list(chunkIndexDirectoryName, names))
        return;
    for (const std::string& name : names) {
        const std::string path = chunkIndexPath(name);
        std::string failure;
        if (isIndexName(name) && kept.count(name) == 0 &&
            channel.kindOf(path) == ChannelDirectory::Kind::regular && !channel.removeFile(path, failure))
            warnings.push_back(failure + ": a chunk index that no release names any more is left in the channel");
    }
}
