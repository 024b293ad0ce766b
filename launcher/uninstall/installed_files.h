#pragma once

#include "channel/release_key.h"

#include <string>
#include <unordered_map>
#include <vector>

// The bytes the launcher put under one path, as its record gives them.
struct InstalledBytes {
    std::string md5;
    std::string sha256;  // empty when no signed release names the file
    unsigned long long size = 0;
};

struct InstalledFiles {
    bool known = false;  // some record named the installed files
    std::unordered_map<std::string, InstalledBytes> files;
};

// Under `keys` (the build's, possibly none), the files of the release this
// directory accepted, when that record verifies; else those the last whole
// unsigned update listed. Only the paths an update may write are kept: the
// top level and libs/, through the path rule, never the launcher's own
// files, records or partial downloads.
InstalledFiles installedFiles(const std::vector<ReleaseKey>& keys);

// Whether `path` still holds exactly `bytes`: a regular file, read now through the game directory's mount.
bool holdsInstalledBytes(const std::string& path, const InstalledBytes& bytes);

// Whether an uninstall may remove a game file listed under `path` at all.
bool isRemovableGamePath(const std::string& path);
