#include "publisher/rollout/rollout_command.h"

#include "channel/channel_names.h"
#include "publisher/console/deployer_output.h"
#include "publisher/folder/exclusive_publish.h"
#include "publisher/folder/wrong_folders.h"
#include "publisher/promote/release_files.h"
#include "publisher/publish/publish_command.h"
#include "publisher/rollout/rollout_text.h"
#include "publisher/rollout/staged_tree.h"
#include "publisher/signals/interruption.h"
#include "publisher/signing/rollout_signing.h"

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

namespace {

const int refused = 2;

long long utcNow()
{
    return static_cast<long long>(std::time(nullptr));
}

Rollout requestedRollout(const RolloutRequest& request, long long now)
{
    Rollout rollout;
    rollout.sharePpm = request.halt ? 0 : request.sharePpm;
    rollout.scheduled = request.days != 0;
    rollout.since = now;
    rollout.days = request.days;
    return rollout;
}

// Why the held channel's current release cannot be signed again beside a
// staged one: as a re-sign, only what was signed before, whole.
std::string currentReleaseProblem(const ChannelDirectory& channel, const ReleaseSigning& signing)
{
    const CurrentRelease& current = signing.current;
    const std::string shown = channel.shown("");
    if (current.state != CurrentRelease::State::verified)
        return "a staged release goes beside the channel's signed release, which the other game directories keep, "
               "and " +
               shown +
               (current.state == CurrentRelease::State::missing ? " has none"
                                                                : "'s release cannot be trusted: " + current.problem) +
               "; publish the release tree with --sign, without --rollout, first";
    if (channel.kindOf(channelLockName) != ChannelDirectory::Kind::missing)
        return "the channel's lock is up: a publish has not finished; run it again first";
    const unsigned long long highest = highestSignedSerial(current.release, signing.staged);
    if (signing.recordBefore.found && highest < signing.recordBefore.serial)
        return "the channel's release serial " + std::to_string(highest) + " is older than the last one signed here, " +
               std::to_string(signing.recordBefore.serial) + " (recorded in " + signing.recordBefore.file +
               "): an old release may have been put back; publish from a release tree with --sign";
    std::string mismatch;
    if (!channelMatchesRelease(channel, current.release, mismatch))
        return mismatch + "; nothing is signed that was not signed before: publish the release tree with --sign";
    return std::string();
}

int reportRollout(const std::string& lead, const Rollout& rollout, const ReleaseSigning& signing,
                  const std::vector<std::string>& warnings, const std::string& expiryWarningText)
{
    for (const std::string& warning : warnings)
        warningLine(warning);
    reportLine(lead + rolloutText(rollout, stagedSerialOf(signing), signing.serial, utcNow()) + "; signed with key " +
               signing.key.publicPart.id);
    if (!expiryWarningText.empty())
        warningLine(expiryWarningText);
    return 0;
}

// Signs the pair once the staged release's objects are in place.
int signStaged(const ChannelDirectory& directory, ReleaseSigning& signing, const Options& options,
               const Release& staged, const std::string& lead, const std::string& channel)
{
    const std::string expiryWarningText = expiryWarning(signing, channel);
    const Rollout rollout = requestedRollout(options.rollout, utcNow());
    std::vector<std::string> warnings;
    std::string failure;
    if (!signRollout(directory, signing, signing.current.release, staged, rollout, warnings, failure)) {
        diagnosticLine(failure);
        diagnosticLine("players still get the channel's current release; run the same command again");
        return 1;
    }
    return reportRollout(lead, rollout, signing, warnings, expiryWarningText);
}

int stagingFailed(const std::string& failure)
{
    const int signal = interruptingSignal();
    diagnosticLine(signal != 0 ? std::string("interrupted by ") + signalName(signal) : failure);
    diagnosticLine("no release was changed: players get the channel's current release as before; the objects "
                   "copied stay in by-hash/ for the next run");
    return signal != 0 ? 128 + signal : 1;
}

int completeRollout(const Options& options)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string& channel = options.operands.front();
    std::string failure;
    if (!(failure = notAChannel(channel)).empty())
        return refusePublish(failure, channel);
    const HeldTree stagedFiles = [&options](const ChannelDirectory& directory, SourceTree& tree) {
        return stagedReleaseFiles(directory, options.signing, tree);
    };
    return publishSourceTree(options, channel, SourceTree(), start, stagedFiles);
}

}  // namespace

int stagedPublishCommand(const Options& options)
{
    const std::string& channel = options.operands.back();
    std::string failure;
    if (!(failure = wrongFolders(options.operands.front(), channel, options.newChannel)).empty() ||
        !(failure = notAChannel(channel)).empty())
        return refusePublish(failure, channel);
    SourceTree tree;
    if (!readCheckedTree(options, channel, tree))
        return refused;
    ExclusivePublish exclusive;
    ReleaseSigning signing;
    const int status = holdChannel(options, channel, tree, nullptr, exclusive, signing);
    if (status != holdingGoesOn)
        return status;
    const ChannelDirectory& directory = exclusive.directory();
    if (!(failure = currentReleaseProblem(directory, signing)).empty())
        return refusePublish(failure, channel);
    watchInterruptions();
    Release staged;
    StagedSummary summary;
    if (!stageTree(tree, directory, staged, summary, failure))
        return stagingFailed(failure);
    finishRegardless();
    const std::string lead = "Published " + std::to_string(summary.files) + " files as a staged release (" +
                             std::to_string(summary.copied) + " copied into by-hash/, " +
                             std::to_string(summary.bytesCopied) + " bytes): ";
    return signStaged(directory, signing, options, staged, lead, channel);
}

int rolloutCommand(const Options& options)
{
    if (options.rollout.complete)
        return completeRollout(options);
    const std::string& channel = options.operands.front();
    std::string failure;
    if (!(failure = notAChannel(channel)).empty())
        return refusePublish(failure, channel);
    ExclusivePublish exclusive;
    ReleaseSigning signing;
    SourceTree none;
    const int status = holdChannel(options, channel, none, nullptr, exclusive, signing);
    if (status != holdingGoesOn)
        return status;
    const ChannelDirectory& directory = exclusive.directory();
    const StagedRelease& staged = signing.staged;
    HashedFiles hashed;
    failure = staged.state == StagedRelease::State::none
                  ? "no rollout is on in " + channel +
                        ": start one with orn-publish --sign KEY --rollout PERCENT "
                        "SOURCE " +
                        channel
              : staged.state == StagedRelease::State::unverified
                  ? "the rollout's staged release cannot be trusted: " + staged.problem +
                        "; end the rollout with orn-publish rollback " + channel + " --to SERIAL --sign KEY"
                  : currentReleaseProblem(directory, signing);
    if (failure.empty() && !releaseObjectsWhole(directory, staged.release, hashed, failure))
        failure += ": the staged release is no longer whole; end the rollout with orn-publish rollback " + channel +
                   " --to SERIAL --sign KEY";
    if (!failure.empty())
        return refusePublish(failure, channel);
    return signStaged(directory, signing, options, staged.release,
                      options.rollout.halt ? "Rollout halted: " : "Rollout changed: ", channel);
}
