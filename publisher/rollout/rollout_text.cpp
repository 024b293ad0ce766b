#include "publisher/rollout/rollout_text.h"

#include "channel/utc_time.h"

std::string rolloutText(const Rollout& rollout, unsigned long long stagedSerial, unsigned long long currentSerial,
                        long long now)
{
    const unsigned long share = rolloutShareAt(rollout, now);
    std::string text =
        "serial " + std::to_string(stagedSerial) + " staged to " + sharePercentText(share) + " of game directories";
    if (rollout.scheduled && share < rolloutWholeShare)
        text += ", growing each day to 100% on " + utcTimeText(rolloutCompleteAt(rollout));
    if (share == 0)
        text += ": no other game directory takes it, and those that took it keep it";
    return text + "; the others keep serial " + std::to_string(currentSerial) + ", the current release";
}
