#pragma once

#include "launcher/console/console.h"
#include "platform/file_lock.h"

// How long a second launcher waits for the one already updating its game
// directory (a player's double-click) before it gives up: long enough for
// an ordinary update on a slow line, short of leaving a window open for
// good behind a stuck one.
constexpr unsigned int otherLauncherWaitMinutes = 10;

struct GameDirectoryTurn {
    bool ours = false;    // this launcher may go on
    bool locked = false;  // ... holding the lock, which it could take
    unsigned int waitedMilliseconds = 0;
};

// Takes `lock` on the launcher's lock file in the current directory, waiting
// while another launcher holds it, for at most `waitMilliseconds`; tells the
// console once that it waits, and when it gives up. A folder where the lock
// file cannot be made (read-only) is the launcher's to use unlocked: nothing
// else could write there either.
GameDirectoryTurn takeGameDirectory(platform::FileLock& lock, Console& console,
                                    unsigned int waitMilliseconds = otherLauncherWaitMinutes * 60000u,
                                    unsigned int pollMilliseconds = 250);
