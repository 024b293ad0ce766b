#include "platform/held_file_retry.h"

#include "platform/platform.h"

#include <cerrno>

namespace platform {

bool retryWhileHeld(const std::function<bool()>& attempt, const std::function<void()>& onFirstHold,
                    unsigned int windowMilliseconds)
{
    if (attempt())
        return true;
    unsigned int waited = 0;
    unsigned int pause = 100;
    bool told = false;
    while (isHeldFileFailure(errno) && waited < windowMilliseconds) {
        if (!told && onFirstHold)
            onFirstHold();
        told = true;
        const unsigned int step = pause < windowMilliseconds - waited ? pause : windowMilliseconds - waited;
        pauseMilliseconds(step);
        waited += step;
        pause = pause < 3200 ? pause * 2 : pause;  // a scan lets go in moments; the game only when closed
        if (attempt())
            return true;
    }
    return false;
}

}  // namespace platform
