#pragma once

#include "channel/release_key.h"
#include "launcher/console/uninstall_console.h"

#include <vector>

// The one argument that asks for an uninstall instead of an update: no
// channel name begins with "-".
inline constexpr const char* uninstallArgument = "--uninstall";

// How long an uninstall waits for a launcher that holds the game directory
// (one about to start the client lets go at once): short, as the player's
// uninstaller waits on it.
inline constexpr unsigned int uninstallLockWaitMilliseconds = 2000;

// Removes from the current directory (mounted as the game directory) what
// the launcher installed and kept, asking no server: each installed file
// (installed_files.h) that still holds the bytes installed, its records,
// log and partial downloads, the .new and .old copies of its own files, an
// emptied libs/, and at last its lock. Leaves its four own files to the
// uninstaller that runs it, and every other file, each told to `console`.
// Returns the process status: 0 when all that should go has gone, 1 when
// a file could not be removed or another launcher holds the directory.
int uninstallGame(const std::vector<ReleaseKey>& keys, UninstallConsole& console,
                  unsigned int lockWaitMilliseconds = uninstallLockWaitMilliseconds);
