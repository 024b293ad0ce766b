#include "publisher/publish/publish_command.h"

#include "channel/channel_names.h"
#include "publisher/console/deployer_output.h"
#include "publisher/folder/exclusive_publish.h"
#include "publisher/signals/interruption.h"
#include "publisher/folder/wrong_folders.h"
#include "publisher/keys/key_exposure.h"
#include "publisher/publish/publish_tree.h"
#include "publisher/release/channel_problems.h"
#include "publisher/signing/rollout_signing.h"
#include "publisher/signing/signing.h"
#include "publisher/source/source_tree.h"

#include <chrono>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const int refused = 2;

std::string counted(unsigned long long count, const std::string& thing)
{
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

}  // namespace

int refusePublish(const std::string& reason, const std::string& channel)
{
    std::error_code error;
    const bool lockUp = fs::exists(fs::symlink_status(fs::path(channel) / channelLockName, error));
    diagnosticLine(reason);
    diagnosticLine("nothing in " + channel + " was changed" +
                   (lockUp ? "; its lock was up already, left by a publish that did not finish, and stays up"
                           : " and no lock was raised"));
    return refused;
}

int heldElsewhere(const std::string& failure)
{
    diagnosticLine(failure + "; nothing was touched: try again when it has finished");
    return 1;
}

bool readCheckedTree(const Options& options, const std::string& channel, SourceTree& tree)
{
    const std::string& source = options.operands.front();
    tree = readSourceTree(source, options.signing.secretKeyFile);
    for (const std::string& warning : tree.warnings)
        warningLine(warning);
    if (tree.problems.empty())
        return true;
    for (const std::string& problem : tree.problems)
        diagnosticLine(problem);
    diagnosticLine(source + " refused; nothing in " + channel + " was touched");
    return false;
}

namespace {

// What a publish over a rollout (its --complete, or a rollback) did to it.
std::string rolloutEndText(const Options& options, const ReleaseSigning& signing)
{
    const bool known = signing.staged.state == StagedRelease::State::verified;
    const std::string staged =
        known ? "staged release serial " + std::to_string(signing.staged.release.serial) : "staged release";
    const std::string serial = std::to_string(signing.serial);
    if (options.command == Options::Command::rollout)
        return "Rollout complete: the " + staged + " is now the channel's release, serial " + serial +
               ", for every game directory";
    return "Rollout ended: every game directory, those that took the " + staged + " too, now gets serial " + serial +
           ", an ordinary release";
}

// A run stopped by a signal: what it did, and what to do.
int stopInterrupted(const ChannelDirectory& directory, const ReleaseSigning* signing, bool changed, bool lockWasUp)
{
    const int signal = interruptingSignal();
    const std::string channel = directory.shown("");
    std::string failure;
    diagnosticLine(std::string("interrupted by ") + signalName(signal) + "; its temporary files are removed");
    // Only a channel that was whole when the run began is whole again without it.
    if (!changed && !lockWasUp &&
        (signing == nullptr || restoreSerialRecord(directory.path(), signing->recordBefore, failure)) &&
        lowerUnchangedLock(directory, failure)) {
        diagnosticLine("no file of " + channel +
                       " had changed yet: the lock is down again and the channel is as it was");
        return 128 + signal;
    }
    diagnosticLine((changed     ? "files of " + channel + " had already changed"
                    : lockWasUp ? "the lock was already up when it began: an earlier publish had not finished"
                                : "the lock cannot be taken down: " + failure) +
                   "; the lock stays up, so launchers wait: run the same command again to finish the job");
    return 128 + signal;
}

// Publishes into a channel held exclusively whose lock is up, and tells how it went.
int publishTree(const SourceTree& tree, const ChannelDirectory& directory, const Options& options,
                ReleaseSigning* signing, const std::string& expiryWarningText,
                std::chrono::steady_clock::time_point start, bool lockWasUp)
{
    PublishSummary summary;
    std::vector<std::string> warnings;
    std::string failure;
    // The record before any file changes: a run that fails after it skips a serial, never reuses one.
    const bool published =
        (signing == nullptr || saveSerialRecord(directory.path(), signing->record, failure)) &&
        publishChannel(tree, directory, options.holdLockSeconds, signing, summary, warnings, failure);
    if (!expiryWarningText.empty())
        warnings.push_back(expiryWarningText);
    for (const std::string& warning : warnings)
        warningLine(warning);
    if (!published && interruptingSignal() != 0)
        return stopInterrupted(directory, signing, summary.channelChanged, lockWasUp);
    if (!published) {
        diagnosticLine(failure);
        diagnosticLine("the lock stays up, so launchers wait instead of fetching a half-published channel; run the "
                       "same command again to finish the job");
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ostringstream line;
    line << "Published " << counted(summary.files, "file") << ": " << summary.copied << " copied, "
         << (summary.linked == 0 ? "" : "of them " + std::to_string(summary.linked) + " as hard links, ")
         << summary.removed << " removed, " << counted(summary.bytesCopied, "byte") << " copied, " << std::fixed
         << std::setprecision(2) << seconds << " s";
    if (signing != nullptr)
        line << "; release serial " << signing->serial << " signed with key " << signing->key.publicPart.id;
    reportLine(line.str());
    if (signing != nullptr && signing->staged.state != StagedRelease::State::none)
        reportLine(rolloutEndText(options, *signing));
    if (signalWhileFinishing() != 0)
        diagnosticLine(std::string(signalName(signalWhileFinishing())) +
                       " came once files of the channel were being replaced: the publish was finished first");
    return 0;
}

int signAnew(const ChannelDirectory& directory, ReleaseSigning& signing, const std::string& channel)
{
    const std::string expiryWarningText = expiryWarning(signing, channel);
    watchInterruptions();
    std::string failure;
    std::vector<std::string> warnings;
    if (!resignChannel(directory, signing, warnings, failure)) {
        if (interruptingSignal() != 0)
            failure = std::string("interrupted by ") + signalName(interruptingSignal());
        const int status = refusePublish(failure, channel);
        return interruptingSignal() != 0 ? 128 + interruptingSignal() : status;
    }
    reportLine("Signed " + channel + " anew: serial " + std::to_string(signing.serial) +
               (signing.staged.state == StagedRelease::State::verified
                    ? ", and its staged release as serial " + std::to_string(stagedSerialOf(signing)) +
                          ", its share and schedule as before"
                    : ""));
    for (const std::string& warning : warnings)
        warningLine(warning);
    if (!expiryWarningText.empty())
        warningLine(expiryWarningText);
    return 0;
}

// Players who took the staged release must never be sent back, and a
// release put in its place would strand them: only the commands that
// change, complete or end the rollout go on.
std::string rolloutOnProblem(const Options& options, const ReleaseSigning& signing, const std::string& channel)
{
    const bool endsOrChanges = options.command == Options::Command::rollout ||
                               options.command == Options::Command::rollback ||
                               options.command == Options::Command::resign;
    if (signing.staged.state == StagedRelease::State::none || endsOrChanges)
        return "";
    const std::string staged = signing.staged.state == StagedRelease::State::verified
                                   ? " (staged release serial " + std::to_string(signing.staged.release.serial) + ")"
                                   : "";
    return "a rollout is on in " + channel + staged + ": players who took the staged release would be stranded; " +
           "first make it everyone's release (orn-publish rollout " + channel +
           " --complete --sign KEY) or end it (orn-publish rollback " + channel + " --to SERIAL --sign KEY)";
}

}  // namespace

int holdChannel(const Options& options, const std::string& channel, SourceTree& tree, const HeldTree& heldTree,
                ExclusivePublish& exclusive, ReleaseSigning& signing)
{
    std::string failure;
    bool heldByAnother = false;
    if (!exclusive.acquire(channel, heldByAnother, failure))
        return heldByAnother ? heldElsewhere(failure) : refusePublish(failure, channel);
    if (heldTree && !(failure = heldTree(exclusive.directory(), tree)).empty())
        return refusePublish(failure, channel);
    const std::vector<std::string> problems = channelProblems(exclusive.directory(), tree.files);
    for (const std::string& problem : problems)
        diagnosticLine(problem);
    if (!problems.empty())
        return refusePublish(channel + " refused", channel);
    const ChannelDirectory& directory = exclusive.directory();
    const bool signs = !options.signing.secretKeyFile.empty();
    if (signs &&
        (!prepareSigning(directory, options.signing, signing, failure) ||
         !(failure = exposedKeyProblem(directory, options.signing.secretKeyFile, signing.key.publicPart)).empty() ||
         !(failure = rolloutOnProblem(options, signing, channel)).empty()))
        return refusePublish(failure, channel);
    // Its release would no longer match: every launcher that checks it would refuse the channel.
    if (!signs && refusesUnsignedPublish(directory, failure))
        return refusePublish(failure, channel);
    return holdingGoesOn;
}

int publishCommand(const Options& options)
{
    const std::string channel = options.operands.back();
    const auto start = std::chrono::steady_clock::now();
    std::string failure;
    if (!(failure = wrongFolders(options.operands.front(), channel, options.newChannel)).empty())
        return refusePublish(failure, channel);
    SourceTree tree;
    if (!readCheckedTree(options, channel, tree))
        return refused;
    return publishSourceTree(options, channel, tree, start);
}

int publishSourceTree(const Options& options, const std::string& channel, SourceTree tree,
                      std::chrono::steady_clock::time_point start, const HeldTree& heldTree)
{
    std::string failure;
    if (!makeChannelDirectory(channel, failure))
        return refusePublish(failure, channel);
    ExclusivePublish exclusive;
    ReleaseSigning signing;
    const int status = holdChannel(options, channel, tree, heldTree, exclusive, signing);
    if (status != holdingGoesOn)
        return status;
    const bool signs = !options.signing.secretKeyFile.empty();
    const std::string expiryWarningText = signs ? expiryWarning(signing, channel) : "";
    watchInterruptions();
    bool lockWasUp = false;
    if (!raiseLock(exclusive.directory(), lockWasUp, failure))
        return refusePublish(failure, channel);
    return publishTree(tree, exclusive.directory(), options, signs ? &signing : nullptr, expiryWarningText, start,
                       lockWasUp);
}

int resignCommand(const Options& options)
{
    ExclusivePublish exclusive;
    ReleaseSigning signing;
    SourceTree none;
    const int status = holdChannel(options, options.operands.back(), none, nullptr, exclusive, signing);
    return status != holdingGoesOn ? status : signAnew(exclusive.directory(), signing, options.operands.back());
}
