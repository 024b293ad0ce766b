#include "publisher/release/staged_release.h"

#include "channel/content_address.h"
#include "digest/sha256.h"
#include "publisher/console/shown_text.h"
#include "publisher/folder/channel_files.h"

#include <algorithm>

namespace {

bool namesRollout(const Release& release)
{
    return std::any_of(release.files.begin(), release.files.end(), isRolloutEntry);
}

// Why the signed text cannot be the staged release the line names; empty when it is.
std::string stagedTextProblem(const std::string& text, const Rollout& rollout, const Release& current,
                              const std::string& channelName, const std::vector<ReleaseKey>& keys, Release& staged)
{
    std::string body;
    if (text.size() != rollout.stagedSize || sha256Hex(text) != rollout.stagedSha256)
        return "it is not the one the current release signed";
    if (!verifySignedRelease(text, keys, body))
        return "its signature does not verify under the keys given";
    if (!parseReleaseBody(body, staged) || !staged.staged)
        return "it is signed but is no staged release";
    if (staged.channel != channelName)
        return "it was signed for the channel \"" + shownText(staged.channel) + "\"";
    if (staged.manifestSha256 != rollout.stagedManifestSha256)
        return "its md5sums is not the one the rollout line names";
    if (staged.serial <= current.serial)
        return "its serial " + std::to_string(staged.serial) + " is not above the current release's, " +
               std::to_string(current.serial);
    return std::string();
}

}  // namespace

StagedRelease readStagedRelease(const ChannelDirectory& channel, const Release& current, const std::string& channelName,
                                const std::vector<ReleaseKey>& keys)
{
    StagedRelease staged;
    if (!namesRollout(current))
        return staged;
    staged.state = StagedRelease::State::unverified;
    if (!rolloutOf(current, staged.rollout)) {
        staged.problem = "the current release's rollout line cannot be read";
        return staged;
    }
    const std::string object = objectPathOf(staged.rollout.stagedSha256);
    std::string text;
    bool missing = false;
    std::string failure;
    // One byte more than signed: a longer planted file is told apart without being read whole.
    const std::size_t limit =
        static_cast<std::size_t>(std::min<unsigned long long>(staged.rollout.stagedSize + 1, channelTextLimitBytes));
    if (!readWholeFile(channel, object, limit, text, missing, failure)) {
        staged.problem = channel.shown(object) + (missing ? " is missing" : ": " + failure);
        return staged;
    }
    Release release;
    staged.problem = stagedTextProblem(text, staged.rollout, current, channelName, keys, release);
    if (!staged.problem.empty()) {
        staged.problem = channel.shown(object) + ": " + staged.problem;
        return staged;
    }
    staged.release = release;
    staged.state = StagedRelease::State::verified;
    return staged;
}

unsigned long long highestSignedSerial(const Release& current, const StagedRelease& staged)
{
    return staged.state == StagedRelease::State::verified ? std::max(current.serial, staged.release.serial)
                                                          : current.serial;
}
