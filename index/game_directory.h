#pragma once

#include "channel/channel_names.h"
#include "channel/own_files.h"

#include <iterator>
#include <string>
#include <vector>

// The game directory as the launcher knows it: the top level and "libs/"
// (the only folders it scans and writes), where a manifest path is written,
// and the names of its own temporary files beside the game's.

// The folders scanned, as path prefixes, in scan order.
inline const std::string libraryFolder = std::string(libraryDirectoryName) + "/";
inline const std::string scannedFolders[] = {libraryFolder, ""};
inline std::vector<std::string> scannedFolderList()
{
    return {std::begin(scannedFolders), std::end(scannedFolders)};
}

// Starts PhysFS over the launcher's own directory (the folder behind a
// "libs" link mounted as "libs") and makes it the current directory, so
// that what is written, renamed and run is what is hashed.
void openGameDirectory(const char* argv0);
// The same over `folder` (ending in a separator), PhysFS already started.
void mountGameDirectory(const std::string& folder);

// The names directly inside one scanned folder ("libs/" or "" for the top
// level), as PhysFS lists them; empty when the folder is not there.
std::vector<std::string> gameDirectoryEntries(const std::string& prefix);

// Where a manifest path is written: its own name, or an own file's ".new"
// copy; `ownBit` gets the own file's bit (0 for a game file).
std::string localNameOf(const std::string& path, SelfFileFlags* ownBit = nullptr);
