#pragma once

#include "channel/own_files.h"
#include "launcher/console/console.h"
#include "platform/held_file_retry.h"

#include <functional>

// Keeps each flagged own file under its ".old" name and moves its ".new"
// copy into its place; tells `console` of each move that failed. A file
// held by another program is tried again for up to `heldWaitMilliseconds`.
void swapInOwnFiles(SelfFileFlags flags, Console& console,
                    unsigned int heldWaitMilliseconds = platform::heldFileWaitMilliseconds);

// Swaps in the flagged own files, calls `beforeClient` (the run's last
// words, its log closed), runs the client, waits for it, and ends the
// process with the client's exit status.
[[noreturn]] void patchAndLaunch(SelfFileFlags flags, Console& console, const std::function<void()>& beforeClient);
