#pragma once

#include "publisher/signing.h"
#include "publisher/source_tree.h"

#include <filesystem>
#include <string>

struct PublishSummary {
    std::size_t files = 0;
    std::size_t copied = 0;
    std::size_t removed = 0;
    unsigned long long bytesCopied = 0;
};

// Publishes a checked tree into one channel directory: raises the lock,
// copies what differs (each file through a temporary name and a rename),
// removes what the previous manifest listed and the new one does not,
// writes the manifest and, with `signing`, the signed release, and takes the
// lock down. The caller holds the channel exclusively. Keeps the lock up and
// returns false, with the reason in `failure`, when a step fails; running
// it again finishes the job. `holdLockSeconds` keeps the lock up that long
// before any file changes.
bool publishChannel(const SourceTree& tree, const std::filesystem::path& channel, unsigned holdLockSeconds,
                    const ReleaseSigning* signing, PublishSummary& summary, std::string& failure);
