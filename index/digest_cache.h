#pragma once

#include "platform/platform.h"

#include <string>
#include <unordered_map>

// The digests of listed files, with what identified each file's version
// when it was hashed, so that an unchanged file need not be read again on
// the next start. Only ever a hint to skip a read: a cache that is missing
// or damaged in any way is ignored, and every file is hashed.
//
// File layout (text):
//   orn-digest-cache 1
//   DIGEST SIZE MODIFIED_NS CHANGED_NS DEVICE IDENTITY RECORDED_NS PATH   (one per file)
//   MD5 of every byte before this line
class DigestCache {
public:
    void load(const std::string& fileName);

    // The recorded digest, when the file's facts all equal the recorded ones
    // and it was last modified well before it was recorded: a file changed
    // again within the same timestamp tick (or FAT's 2 s) is always read.
    bool lookup(const std::string& path, const platform::FileFacts& facts, std::string& digest) const;

    void record(const std::string& path, const platform::FileFacts& facts, const std::string& digest,
                long long recordedNs);

    // Writes the entries of the paths still listed, through a temporary file and a rename.
    bool save(const std::string& fileName, const std::unordered_map<std::string, std::string>& listed) const;

private:
    struct Entry {
        platform::FileFacts facts;
        long long recordedNs = 0;
        std::string digest;
    };
    std::unordered_map<std::string, Entry> entries_;
};

// How much older than the moment of recording a file's modification time
// must be for its digest to be trusted: FAT's resolution, and the racy case.
constexpr long long digestCacheSettleNs = 3LL * 1000 * 1000 * 1000;
