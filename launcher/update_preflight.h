#pragma once

#include "channel/release.h"
#include "launcher/console/console.h"

#include <string>
#include <unordered_map>
#include <vector>

// One file the update is about to fetch: its manifest path and where it goes.
struct PlannedDownload {
    std::string path;
    std::string localName;
};

// What is checked before the first byte is asked for, so that a player
// learns at once what stands in the way instead of after a long download.

// True when each folder that gets a file can take a new one (tried with a
// file of the launcher's own, removed again); else the console names the
// first that cannot, and why.
bool foldersTakeNewFiles(const std::vector<PlannedDownload>& plan, Console& console);

// True when the game's volume can hold the update at its fullest moment:
// the files in list order, each new copy written beside the old one, which
// its rename then frees, less what resumable partial downloads already
// hold. Sizes are the signed ones; a volume whose free space cannot be told
// is taken to have room. Else the console tells the needed and free amounts.
bool volumeHoldsUpdate(const std::vector<PlannedDownload>& plan,
                       const std::unordered_map<std::string, ReleaseEntry>& signedEntries, Console& console);

// The peak above, from each file's (new size, bytes already kept, size of the copy it replaces).
struct SpaceStep {
    unsigned long long size;
    unsigned long long kept;
    unsigned long long replaced;
};
unsigned long long peakBytesNeeded(const std::vector<SpaceStep>& steps);
