#include "launcher/release/release_trust.h"

#include "launcher/release/accepted_serials.h"

#include <utility>

ReleaseTrust::ReleaseTrust(const std::string& keyText, std::string channel, long long now)
    : required_(!keyText.empty()), channel_(std::move(channel)), now_(now),
      acceptedSerial_(required_ ? highestAcceptedSerial(channel_) : 0)
{
    // CMake refuses malformed keys; should one slip through, no release verifies.
    if (required_ && !parseReleaseKeyList(keyText, keys_))
        keys_.clear();
}
