#include "publisher/signing/signing.h"

#include "channel/channel_names.h"
#include "channel/utc_time.h"
#include "digest/sha256.h"
#include "publisher/folder/channel_files.h"
#include "publisher/keys/secret_key_file.h"
#include "publisher/signing/rollout_signing.h"
#include "publisher/signing/settling.h"

#include <algorithm>
#include <ctime>

namespace fs = std::filesystem;

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
    if (signing.current.state == CurrentRelease::State::verified)
        signing.staged = readStagedRelease(channel, signing.current.release, signing.channelName, keys);
    const unsigned long long highest = highestSignedSerial(signing.current.release, signing.staged);
    if (request.resign && signing.current.state != CurrentRelease::State::verified) {
        failure = "only a release signed before is signed anew, and " +
                  (signing.current.state == CurrentRelease::State::missing
                       ? std::string("the channel has none")
                       : "the channel's release cannot be trusted: " + signing.current.problem) +
                  "; publish the release tree with --sign instead";
        return false;
    }
    // A valid release, but older than one signed since: an old channel put back on the server.
    if (request.resign && signing.record.found && highest < signing.record.serial) {
        failure = "the channel's release serial " + std::to_string(signing.current.release.serial) +
                  " is older than the last one signed here, " + std::to_string(signing.record.serial) +
                  " (recorded in " + signing.record.file +
                  "): an old release may have been put back; publish from a release tree with --sign";
        return false;
    }
    signing.recordBefore = signing.record;
    const bool lockUp = channel.kindOf(channelLockName) != ChannelDirectory::Kind::missing;
    return settleSigning(request, lockUp, static_cast<long long>(std::time(nullptr)), signing, failure);
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

bool resignChannel(const ChannelDirectory& channel, ReleaseSigning& signing, std::vector<std::string>& warnings,
                   std::string& failure)
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
    // The staged release signed anew beside it, or a launcher in its group would see the staged serial fall behind.
    if (signing.staged.state == StagedRelease::State::verified)
        return signRollout(channel, signing, release, signing.staged.release, signing.staged.rollout, warnings,
                           failure);
    if (signing.staged.state == StagedRelease::State::unverified) {
        failure = "a rollout is on, and its staged release cannot be trusted: " + signing.staged.problem +
                  "; end the rollout with orn-publish rollback " + channel.shown("") + " --to SERIAL";
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
    const auto now = static_cast<long long>(std::time(nullptr));
    if (!signing.expires || !isWithinDays(signing.expiresAt, now, expiryWarningDays))
        return "";
    return "the release expires in " + std::to_string(daysUntil(signing.expiresAt, now)) + " days (" +
           utcTimeText(signing.expiresAt) +
           "); launchers refuse it after that: sign it anew before then with "
           "orn-publish --sign KEY --resign " +
           channel;
}
