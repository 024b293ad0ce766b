#include "launcher/game_directory_lock.h"

#include "channel/channel_names.h"
#include "platform/platform.h"

GameDirectoryTurn takeGameDirectory(platform::FileLock& lock, Console& console, unsigned int waitMilliseconds,
                                    unsigned int pollMilliseconds)
{
    GameDirectoryTurn turn;
    for (;;) {
        switch (lock.tryTake(launcherLockName)) {
        case platform::FileLock::Outcome::taken:
            turn.ours = turn.locked = true;
            return turn;
        case platform::FileLock::Outcome::unavailable:
            turn.ours = true;
            return turn;
        case platform::FileLock::Outcome::heldElsewhere:
            break;
        }
        if (turn.waitedMilliseconds >= waitMilliseconds) {
            console.otherLauncherStillRunning(waitMilliseconds / 60000u);
            return turn;
        }
        if (turn.waitedMilliseconds == 0)
            console.otherLauncherRunning();
        platform::pauseMilliseconds(pollMilliseconds);
        turn.waitedMilliseconds += pollMilliseconds;
    }
}
