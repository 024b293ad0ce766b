#include "index/local_scan.h"

#include "channel/case_folding.h"

void scanLocalFiles(FileIndex& index, const std::vector<std::string>& folders, DigestCache* cache)
{
    if (cache == nullptr) {
        for (const std::string& folder : folders)
            index.scanDirectory(folder);
        return;
    }
    cache->load(digestCacheFileName);
    // Facts are taken before a file is read: one changed while it is read is newer than its record.
    const long long scanStartNs = platform::nowNanoseconds();
    std::unordered_map<std::string, platform::FileFacts> seen;
    const auto knownDigest = [cache, &seen](const std::string& path, std::string& digest) {
        platform::FileFacts facts;
        if (!platform::fileFacts(path, facts))
            return false;
        seen[path] = facts;
        return cache->lookup(path, facts, digest);
    };
    for (const std::string& folder : folders)
        index.scanDirectory(folder, knownDigest);
    for (const auto& entry : seen) {
        const auto hashed = index.localDigests.find(entry.first);
        if (hashed != index.localDigests.end() && !hashed->second.empty())
            cache->record(entry.first, entry.second, hashed->second, scanStartNs);
    }
}

void recordDownloadedFile(DigestCache& cache, const std::string& path, const std::string& digest)
{
    platform::FileFacts facts;
    if (!platform::fileFacts(path, facts))
        return;
    // As the scan spells digests, so that the comparison with the manifest stays what it was.
    cache.record(path, facts, lowerCase(digest), platform::nowNanoseconds());
}
