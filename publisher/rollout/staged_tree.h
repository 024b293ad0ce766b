#pragma once

#include "channel/release.h"
#include "publisher/folder/channel_directory.h"
#include "publisher/source/source_tree.h"

#include <string>

struct StagedSummary {
    std::size_t files = 0;
    std::size_t copied = 0;
    unsigned long long bytesCopied = 0;
};

// Puts every file of `tree` into the channel's by-hash/ alone, under its
// SHA-256 (through a temporary name, the bytes checked once copied; an object
// already whole is kept), with the chunk index and block sums of a large one
// and the manifest they make as objects too; `staged` gets the lines of the
// release they make, unsigned. No file under its usual name changes, so
// launchers fetch the channel as before meanwhile. An interruption (see
// interruption.h) fails it at the next file.
bool stageTree(const SourceTree& tree, const ChannelDirectory& channel, Release& staged, StagedSummary& summary,
               std::string& failure);
