#pragma once

#include "channel/channel_names.h"
#include "index/file_index.h"
#include "index/digest_cache.h"

#include <string>
#include <vector>

// Where the launcher remembers its digests, in the game directory.
inline constexpr const char* digestCacheFileName = launcherDigestCacheName;

// Hashes the listed files in `folders` (as FileIndex::scanDirectory takes
// them), in order. With a cache, a file that has not changed since it was
// last hashed takes its recorded digest unread, and every file hashed now
// is recorded.
void scanLocalFiles(FileIndex& index, const std::vector<std::string>& folders, DigestCache* cache);

// A file just put in place under `path`, whose bytes had `digest`.
void recordDownloadedFile(DigestCache& cache, const std::string& path, const std::string& digest);
