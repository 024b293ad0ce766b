#include "publisher/signing/rollout_signing.h"

#include "channel/channel_names.h"
#include "channel/content_address.h"
#include "digest/sha256.h"
#include "publisher/folder/channel_files.h"
#include "publisher/release/channel_objects.h"
#include "publisher/release/object_check.h"
#include "publisher/release/release_retention.h"
#include "publisher/state/serial_record.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

unsigned long long stagedSerialOf(const ReleaseSigning& signing)
{
    return signing.serial + 1;
}

namespace {

// The staged release's signed text, stored as the object that `rollout` is made to name.
bool storeStagedText(const ChannelDirectory& channel, const ReleaseSigning& signing, Release& staged, Rollout& rollout,
                     std::string& failure)
{
    staged.staged = true;
    staged.channel = signing.channelName;
    staged.serial = stagedSerialOf(signing);
    staged.expires = signing.expires;
    staged.expiresAt = signing.expiresAt;
    const std::string text = signRelease(releaseBody(staged), signing.key);
    rollout.stagedSha256 = sha256Hex(text);
    rollout.stagedSize = text.size();
    rollout.stagedManifestSha256 = staged.manifestSha256;
    return storeBytesObject(channel, text, rollout.stagedSha256, failure);
}

}  // namespace

bool signRollout(const ChannelDirectory& channel, ReleaseSigning& signing, Release outer, Release staged,
                 Rollout rollout, std::vector<std::string>& warnings, std::string& failure)
{
    HashedFiles hashed;
    if (!releaseObjectsWhole(channel, staged, hashed, failure)) {
        failure += ": the staged release is no longer whole; end the rollout with rollback --to SERIAL";
        return false;
    }
    if (stagedSerialOf(signing) > largestReleaseSerial) {
        failure = "serial " + std::to_string(stagedSerialOf(signing)) + " is above " +
                  std::to_string(largestReleaseSerial) + ", the largest that launchers read";
        return false;
    }
    if (!storeStagedText(channel, signing, staged, rollout, failure))
        return false;
    outer.staged = false;
    outer.serial = signing.serial;
    outer.expires = signing.expires;
    outer.expiresAt = signing.expiresAt;
    outer.files.erase(std::remove_if(outer.files.begin(), outer.files.end(), isRolloutEntry), outer.files.end());
    outer.files.push_back(rolloutEntry(rollout));
    // The staged text on disk before the release that names it; the record
    // before either: a failed run skips serials, never reuses one.
    if (::syncfs(channel.descriptor()) != 0) {
        failure = "cannot force the channel's files to disk: " + std::string(std::strerror(errno));
        return false;
    }
    signing.record.serial = stagedSerialOf(signing);
    if (!saveSerialRecord(channel.path(), signing.record, failure) ||
        !writeAtomically(channel, channelReleaseName, signRelease(releaseBody(outer), signing.key), failure))
        return false;
    keepLastReleases(channel, signing.current, outer, signing.keepReleases, hashed, warnings, &staged);
    return releaseObjectsWhole(channel, outer, hashed, failure) &&
           releaseObjectsWhole(channel, staged, hashed, failure);
}
