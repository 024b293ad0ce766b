#pragma once

#include "channel/own_files.h"
#include "launcher/console/console.h"

#include <functional>

// Moves each flagged own file to its ".old" name and its ".new" copy into
// its place; tells `console` of each move that failed.
void swapInOwnFiles(SelfFileFlags flags, Console& console);

// Swaps in the flagged own files, calls `beforeClient` (the run's last
// words, its log closed), runs the client, waits for it, and ends the
// process with the client's exit status.
[[noreturn]] void patchAndLaunch(SelfFileFlags flags, Console& console, const std::function<void()>& beforeClient);
