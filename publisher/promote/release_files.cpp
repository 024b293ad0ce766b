#include "publisher/promote/release_files.h"

#include "channel/channel_names.h"
#include "channel/content_address.h"
#include "channel/manifest_path.h"
#include "publisher/console/shown_text.h"
#include "publisher/keys/secret_key_file.h"
#include "publisher/release/chunk_index_files.h"
#include "publisher/release/object_check.h"
#include "publisher/release/release_retention.h"
#include "publisher/state/serial_record.h"

#include <algorithm>

namespace {

// Names a few of many: a release may hold thousands of files.
const std::size_t namedFiles = 10;

// The tree of `files`, each read from its object when `fromObjects`.
std::string treeOf(const ChannelDirectory& channel, const std::vector<ReleaseEntry>& files, bool fromObjects,
                   SourceTree& tree)
{
    tree = SourceTree();
    for (const ReleaseEntry& file : files) {
        if (!isSafeManifestPath(file.path))
            return "the release lists " + shownText(file.path) + ", which no launcher accepts";
        const std::string stored = fromObjects ? objectPathOf(file.sha256) : file.path;
        tree.files.push_back({file.path, channel.path() / stored, file.sha256, file.size, &channel, stored});
    }
    std::sort(tree.files.begin(), tree.files.end(),
              [](const SourceFile& one, const SourceFile& other) { return one.path < other.path; });
    return std::string();
}

}  // namespace

std::string verifiedReleaseFiles(const ChannelDirectory& channel, const SigningRequest& request, SourceTree& tree,
                                 std::string& rolloutNote)
{
    const std::string shown = channel.shown("");
    SecretKey key;
    std::string name;
    SerialRecord record;
    std::string failure;
    if (!loadSecretKey(request.secretKeyFile, channel.path(), key, failure) ||
        !channelNameOf(channel.path(), name, failure) || !findSerialRecord(channel.path(), record, failure))
        return failure;
    if (channel.kindOf(channelLockName) != ChannelDirectory::Kind::missing)
        return shown + " has its lock up: a publish into it has not finished; run it again, then promote";
    std::vector<ReleaseKey> keys = request.trustedKeys;
    keys.push_back(key.publicPart);
    const CurrentRelease current = readCurrentRelease(channel, name, keys);
    if (current.state != CurrentRelease::State::verified)
        return "only a signed release is promoted, and " + shown +
               (current.state == CurrentRelease::State::missing ? " has none"
                                                                : "'s release cannot be trusted: " + current.problem);
    const Release& release = current.release;
    const StagedRelease staged = readStagedRelease(channel, release, name, keys);
    if (staged.state != StagedRelease::State::none)
        rolloutNote = shown + " has a rollout on: its current release, serial " + std::to_string(release.serial) +
                      ", which its other game directories get, is promoted, not the staged one";
    if (record.found && highestSignedSerial(release, staged) < record.serial)
        return shown + "'s release serial " + std::to_string(release.serial) +
               " is older than the last one signed "
               "here for it, " +
               std::to_string(record.serial) + " (recorded in " + record.file +
               "): an old release may have been put back; publish it anew from its release tree first";
    std::string mismatch;
    if (!channelMatchesRelease(channel, release, mismatch))
        return mismatch + ": " + shown + " no longer holds what its release signed (orn-publish status " + shown +
               " tells more); publish it anew from its release tree first";
    return treeOf(channel, gameFileEntries(release), isContentAddressed(release), tree);
}

std::string stagedReleaseFiles(const ChannelDirectory& channel, const SigningRequest& request, SourceTree& tree)
{
    const std::string shown = channel.shown("");
    SecretKey key;
    std::string name;
    std::string failure;
    if (!loadSecretKey(request.secretKeyFile, channel.path(), key, failure) ||
        !channelNameOf(channel.path(), name, failure))
        return failure;
    std::vector<ReleaseKey> keys = request.trustedKeys;
    keys.push_back(key.publicPart);
    const CurrentRelease current = readCurrentRelease(channel, name, keys);
    if (current.state != CurrentRelease::State::verified)
        return "only a signed channel has a rollout, and " + shown +
               (current.state == CurrentRelease::State::missing ? " has no release"
                                                                : "'s release cannot be trusted: " + current.problem);
    const StagedRelease staged = readStagedRelease(channel, current.release, name, keys);
    if (staged.state == StagedRelease::State::none)
        return "no rollout is on in " + shown + ": there is no staged release to complete";
    if (staged.state != StagedRelease::State::verified)
        return "the staged release of " + shown + " cannot be trusted: " + staged.problem +
               "; end the rollout with orn-publish rollback " + shown + " --to SERIAL";
    SerialRecord record;
    if (!findSerialRecord(channel.path(), record, failure))
        return failure;
    // An older release and its staged one put back: completing it would publish a build since replaced.
    if (record.found && staged.release.serial < record.serial)
        return "the staged release serial " + std::to_string(staged.release.serial) +
               " is older than the last one signed here for " + shown + ", " + std::to_string(record.serial) +
               " (recorded in " + record.file +
               "): an old release may have been put back; publish from a "
               "release tree with --sign";
    return treeOf(channel, gameFileEntries(staged.release), true, tree);
}

std::string keptReleaseFiles(const ChannelDirectory& channel, unsigned long long serial, SourceTree& tree)
{
    const std::string shown = channel.shown("");
    std::vector<KeptRelease> releases;
    bool found = false;
    std::string failure;
    if (!readKeptReleases(channel, releases, found, failure))
        return failure;
    const auto kept = std::find_if(releases.begin(), releases.end(),
                                   [serial](const KeptRelease& release) { return release.serial == serial; });
    std::string serials;
    for (const KeptRelease& release : releases)
        serials += (serials.empty() ? "" : ", ") + std::to_string(release.serial);
    if (kept == releases.end())
        return "release serial " + std::to_string(serial) + " is not among those whose objects " + shown + " keeps (" +
               (serials.empty() ? "none is recorded on this machine" : serials) +
               "); publish that release's tree instead";
    if (kept->files.empty())
        return "release serial " + std::to_string(serial) +
               " was recorded by an earlier orn-publish, which kept no "
               "list of its files; publish that release's tree instead";
    HashedFiles hashed;
    std::vector<std::string> lost;
    for (const ReleaseEntry& file : kept->files) {
        if (checkObject(channel, file.sha256, file.size, hashed) != ObjectState::whole)
            lost.push_back(shownText(file.path) + " (" + objectPathOf(file.sha256) + ")");
    }
    if (!lost.empty()) {
        std::string named;
        for (std::size_t i = 0; i < lost.size() && i < namedFiles; ++i)
            named += (i == 0 ? "" : ", ") + lost[i];
        if (lost.size() > namedFiles)
            named += " and " + std::to_string(lost.size() - namedFiles) + " more";
        return "release serial " + std::to_string(serial) + " cannot be published again: " + shown +
               " no longer keeps whole the objects of " + std::to_string(lost.size()) + " of its " +
               std::to_string(kept->files.size()) + " files: " + named + "; publish that release's tree instead";
    }
    return treeOf(channel, kept->files, true, tree);
}
