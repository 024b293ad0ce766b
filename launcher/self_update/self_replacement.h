#pragma once

#include "channel/own_files.h"

// Moves each flagged own file to its ".old" name and its ".new" copy into
// its place; reports failed moves on standard error.
void swapInOwnFiles(SelfFileFlags flags);

// Swaps in the flagged own files, runs the client, waits for it, and ends
// the process with the client's exit status.
[[noreturn]] void patchAndLaunch(SelfFileFlags flags);
