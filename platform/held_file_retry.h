#pragma once

#include <functional>

namespace platform {

// How long a rename waits for another process to let go of a file (an
// antivirus scan, the game still running, a player's editor) before the
// run gives up on it.
constexpr unsigned int heldFileWaitMilliseconds = 30000;

// Calls `attempt` until it succeeds, fails for another reason than a held
// file (isHeldFileFailure of errno), or `windowMilliseconds` have passed,
// pausing longer each time. `onFirstHold` runs once, at the first hold.
// True when an attempt succeeded; errno is the last attempt's otherwise.
bool retryWhileHeld(const std::function<bool()>& attempt, const std::function<void()>& onFirstHold,
                    unsigned int windowMilliseconds = heldFileWaitMilliseconds);

}  // namespace platform
