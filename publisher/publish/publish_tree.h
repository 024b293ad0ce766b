#pragma once

#include "publisher/folder/channel_directory.h"
#include "publisher/signing/signing.h"
#include "publisher/source/source_tree.h"

#include <filesystem>
#include <string>
#include <vector>

struct PublishSummary {
    std::size_t files = 0;
    std::size_t copied = 0;
    std::size_t linked = 0;  // of those copied: hard links to a file of a signed release
    std::size_t removed = 0;
    unsigned long long bytesCopied = 0;
    bool channelChanged = false;  // a served file was replaced, added or removed
};

// Creates the channel directory (and those above it) searchable by the web
// server whatever the umask.
bool makeChannelDirectory(const std::filesystem::path& channel, std::string& failure);

// Removes the temporary files that a killed run left, and raises the lock;
// `wasUp` when it was up already (a run that did not finish). False, with
// the channel as it was, when the lock cannot be raised.
bool raiseLock(const ChannelDirectory& channel, bool& wasUp, std::string& failure);

// Takes down the lock of a run that changed no served file, with the record
// of what it wrote.
bool lowerUnchangedLock(const ChannelDirectory& channel, std::string& failure);

// Publishes a checked tree into a channel whose lock is up and which the
// caller holds exclusively: copies what differs (each file through a
// temporary name and a rename, its digest taken from the bytes copied),
// removes what the previous manifest or an unfinished run put there and
// the tree does not hold (regular files at paths the path rule allows, and
// nothing else), writes the manifest and, with `signing`, every file, each
// large file's chunk index and the manifest as objects in by-hash/, then the
// signed release (then removes the objects that none of the last releases
// kept names), and takes the lock down. Keeps the lock up and returns
// false, with the reason in `failure`, when a step fails; running it again
// finishes the job. `holdLockSeconds` keeps the lock up that long before
// any file changes. An interruption (see interruption.h) fails it at the
// next file or piece, before md5sums is written. Warnings go to `warnings`.
bool publishChannel(const SourceTree& tree, const ChannelDirectory& channel, unsigned holdLockSeconds,
                    const ReleaseSigning* signing, PublishSummary& summary, std::vector<std::string>& warnings,
                    std::string& failure);
