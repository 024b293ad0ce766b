#include "publisher/signing.h"

#include "channel/channel_names.h"
#include "digest/sha256.h"
#include "publisher/channel_files.h"
#include "publisher/secret_key_file.h"

#include <algorithm>
#include <ctime>

namespace fs = std::filesystem;

namespace {

const long long secondsPerDay = 86400;

// The serial to sign: above the verified release's and the record's, and
// at least the clock; a channel whose release cannot be trusted needs the
// deployer's --serial. A release missing under a lock left up is one that
// our own interrupted publish had not yet written: it is signed above the record.
bool settleSerial(const SigningRequest& request, bool lockUp, ReleaseSigning& signing, std::string& failure)
{
    const CurrentRelease& current = signing.current;
    const bool verified = current.state == CurrentRelease::State::verified;
    const unsigned long long highest = std::max(verified ? current.release.serial : 0, signing.record.serial);
    const std::string recorded = signing.record.found ? " (serial " + std::to_string(signing.record.serial) +
                                                            " was signed for it, recorded in " + signing.record.file + ")"
                                                      : "";
    if (request.serial == 0 && current.state == CurrentRelease::State::unverified) {
        failure = "the channel's release cannot be trusted: " + current.problem + recorded +
                  "; give --trust KEYID:BASE64 for the key that signed it, or --serial N above the highest serial "
                  "ever signed for this channel";
        return false;
    }
    if (request.serial == 0 && current.state == CurrentRelease::State::missing && signing.record.found &&
        !lockUp) {
        failure = "the channel's release is missing" + recorded + "; give --serial N above " +
                  std::to_string(signing.record.serial) + " to sign it anew";
        return false;
    }
    // The clock too: a deployer who lost both the record and the web root
    // still signs above every serial that players' launchers accepted.
    const auto clock = static_cast<unsigned long long>(std::time(nullptr));
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

bool channelNameOf(const fs::path& channel, std::string& name, std::string& failure)
{
    fs::path normal = channel.lexically_normal();
    if (!normal.has_filename())
        normal = normal.parent_path();
    name = normal.filename().string();
    if (name.empty() || name == "." || name == ".." || name.find_first_of("\n\r") != std::string::npos) {
        failure = channel.string() + ": its last segment, the channel name that launchers ask for, is not usable";
        return false;
    }
    return true;
}

bool prepareSigning(const ChannelDirectory& channel, const SigningRequest& request, ReleaseSigning& signing,
                    std::string& failure)
{
    if (!loadSecretKey(request.secretKeyFile, channel.path(), signing.key, failure) ||
        !channelNameOf(channel.path(), signing.channelName, failure) ||
        !findSerialRecord(channel.path(), signing.record, failure))
        return false;
    std::vector<ReleaseKey> keys = request.trustedKeys;
    keys.push_back(signing.key.publicPart);
    signing.current = readCurrentRelease(channel, signing.channelName, keys);
    if (request.resign && signing.current.state != CurrentRelease::State::verified) {
        failure = "only a release signed before is signed anew, and " +
                  (signing.current.state == CurrentRelease::State::missing
                       ? std::string("the channel has none")
                       : "the channel's release cannot be trusted: " + signing.current.problem) +
                  "; publish the release tree with --sign instead";
        return false;
    }
    // A valid release, but older than one signed since: an old channel put back on the server.
    if (request.resign && signing.record.found && signing.current.release.serial < signing.record.serial) {
        failure = "the channel's release serial " + std::to_string(signing.current.release.serial) +
                  " is older than the last one signed here, " + std::to_string(signing.record.serial) +
                  " (recorded in " + signing.record.file +
                  "): an old release may have been put back; publish from a release tree with --sign";
        return false;
    }
    signing.recordBefore = signing.record;
    const bool lockUp = channel.kindOf(channelLockName) != ChannelDirectory::Kind::missing;
    if (!settleSerial(request, lockUp, signing, failure))
        return false;
    const unsigned days = expiryDays(request, signing);
    signing.expires = days != 0;
    signing.expiresAt = static_cast<long long>(std::time(nullptr)) + secondsPerDay * days;
    signing.record.serial = signing.serial;
    signing.record.expiresDays = days;
    signing.keepReleases = request.keepReleases;
    return true;
}

bool refusesUnsignedPublish(const ChannelDirectory& channel, std::string& failure)
{
    SerialRecord record;
    if (!findSerialRecord(channel.path(), record, failure))
        return true;
    const bool hasRelease = channel.kindOf(channelReleaseName) != ChannelDirectory::Kind::missing;
    if (!record.found && !hasRelease)
        return false;
    failure = hasRelease ? "the channel is signed (it has a release): publish with --sign, or remove its release to "
                           "stop signing it"
                         : "the channel was signed (serial " + std::to_string(record.serial) + ", recorded in " +
                               record.file + ") and its release is gone: publish with --sign and --serial N above " +
                               std::to_string(record.serial) + ", or remove that record to stop signing it";
    if (hasRelease && record.found)
        failure += " and the record " + record.file;
    failure += " (launchers built with release keys refuse a channel that is not signed: only do so for "
               "launchers built without them)";
    return true;
}

std::string signedReleaseText(const ReleaseSigning& signing, const std::string& manifest,
                              const std::vector<ReleaseEntry>& entries)
{
    Release release;
    release.channel = signing.channelName;
    release.serial = signing.serial;
    release.expires = signing.expires;
    release.expiresAt = signing.expiresAt;
    release.manifestSha256 = sha256Hex(manifest);
    release.files = entries;
    return signRelease(releaseBody(release), signing.key);
}

bool resignChannel(const ChannelDirectory& channel, ReleaseSigning& signing, std::string& failure)
{
    if (channel.kindOf(channelLockName) != ChannelDirectory::Kind::missing) {
        failure = "the channel's lock is up: a publish has not finished; run it again before signing anew";
        return false;
    }
    // Only what was signed before: the server's md5sums and files may have been changed since.
    Release release = signing.current.release;
    std::string mismatch;
    if (!channelMatchesRelease(channel, release, mismatch)) {
        failure = mismatch + "; nothing is signed that was not signed before: publish the release tree with --sign";
        return false;
    }
    release.serial = signing.serial;
    release.expires = signing.expires;
    release.expiresAt = signing.expiresAt;
    return saveSerialRecord(channel.path(), signing.record, failure) &&
           writeAtomically(channel, channelReleaseName, signRelease(releaseBody(release), signing.key), failure);
}

std::string expiryWarning(const ReleaseSigning& signing, const std::string& channel)
{
    const long long left = signing.expiresAt - static_cast<long long>(std::time(nullptr));
    if (!signing.expires || left >= secondsPerDay * expiryWarningDays)
        return "";
    return "the release expires in " + std::to_string(left / secondsPerDay) + " days (" +
           utcTimeText(signing.expiresAt) + "); launchers refuse it after that: sign it anew before then with "
           "orn-publish --sign KEY --resign " + channel;
}
