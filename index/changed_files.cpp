#include "index/file_index.h"

std::vector<std::string> FileIndex::changedFiles() const
{
    std::vector<std::string> changed;
    for (const auto& [path, remoteDigest] : remoteDigests) {
        const auto local = localDigests.find(path);
        if (local == localDigests.end() || local->second != remoteDigest)
            changed.push_back(path);
    }
    return changed;
}
