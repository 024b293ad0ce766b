#include "publisher/signing/settling.h"

#include "channel/utc_time.h"

#include <algorithm>

namespace {

// The serial to sign: above the verified release's and the record's, and
// at least the clock; a channel whose release cannot be trusted needs the
// deployer's --serial. A release missing under a lock left up is one that
// our own interrupted publish had not yet written: it is signed above the record.
bool settleSerial(const SigningRequest& request, bool lockUp, long long now, ReleaseSigning& signing,
                  std::string& failure)
{
    const CurrentRelease& current = signing.current;
    const bool verified = current.state == CurrentRelease::State::verified;
    const unsigned long long highest =
        std::max(verified ? highestSignedSerial(current.release, signing.staged) : 0, signing.record.serial);
    const std::string recorded = signing.record.found
                                     ? " (serial " + std::to_string(signing.record.serial) +
                                           " was signed for it, recorded in " + signing.record.file + ")"
                                     : "";
    if (request.serial == 0 && current.state == CurrentRelease::State::unverified) {
        failure = "the channel's release cannot be trusted: " + current.problem + recorded +
                  "; give --trust KEYID:BASE64 for the key that signed it, or --serial N above the highest serial "
                  "ever signed for this channel";
        return false;
    }
    if (request.serial == 0 && current.state == CurrentRelease::State::missing && signing.record.found && !lockUp) {
        failure = "the channel's release is missing" + recorded + "; give --serial N above " +
                  std::to_string(signing.record.serial) + " to sign it anew";
        return false;
    }
    // The clock too: a deployer who lost both the record and the web root
    // still signs above every serial that players' launchers accepted.
    const auto clock = static_cast<unsigned long long>(now);
    signing.serial = request.serial != 0 ? request.serial : std::max(highest + 1, clock);
    signing.record.origin =
        request.serial != 0 ? "given with --serial"
        : signing.serial == clock
            ? "the signing time in UTC seconds" +
                  (highest == 0 ? std::string() : ", above the highest serial known, " + std::to_string(highest))
            : "one above the highest serial known, " + std::to_string(highest) + ", which is ahead of the clock";
    if (signing.serial <= highest) {
        failure = "serial " + std::to_string(signing.serial) + " is not greater than " + std::to_string(highest) +
                  ", already signed for this channel: launchers that saw it would refuse the release";
        return false;
    }
    if (signing.serial > largestReleaseSerial) {
        failure = "serial " + std::to_string(signing.serial) + " is above " + std::to_string(largestReleaseSerial) +
                  ", the largest that launchers read: this channel cannot be signed again under its name";
        return false;
    }
    return true;
}

// --expires when given; a re-sign keeps the deployer's last choice; else the default.
unsigned expiryDays(const SigningRequest& request, const ReleaseSigning& signing)
{
    if (request.expiryGiven)
        return request.expiresDays;
    if (!request.resign)
        return defaultExpiryDays;
    if (signing.record.found)
        return signing.record.expiresDays;
    return signing.current.release.expires ? defaultExpiryDays : 0;
}

}  // namespace

bool settleSigning(const SigningRequest& request, bool lockUp, long long now, ReleaseSigning& signing,
                   std::string& failure)
{
    if (!settleSerial(request, lockUp, now, signing, failure))
        return false;
    const unsigned days = expiryDays(request, signing);
    signing.expires = days != 0;
    signing.expiresAt = now + secondsPerDay * days;
    signing.record.serial = signing.serial;
    signing.record.expiresDays = days;
    signing.keepReleases = request.keepReleases;
    return true;
}
