#include "publisher/promote/promote_command.h"

#include "publisher/console/deployer_output.h"
#include "publisher/folder/exclusive_publish.h"
#include "publisher/folder/wrong_folders.h"
#include "publisher/promote/release_files.h"
#include "publisher/publish/publish_command.h"

#include <chrono>
#include <string>

int promoteCommand(const Options& options)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string& from = options.operands.front();
    const std::string& to = options.operands.back();
    std::string failure;
    if (!(failure = wrongPromotion(from, to, options.newChannel)).empty())
        return refusePublish(failure, to);
    ExclusivePublish source;
    bool heldByAnother = false;
    if (!source.acquire(from, heldByAnother, failure))
        return heldByAnother ? heldElsewhere(failure) : refusePublish(failure, to);
    SourceTree tree;
    std::string rolloutNote;
    if (!(failure = verifiedReleaseFiles(source.directory(), options.signing, tree, rolloutNote)).empty())
        return refusePublish(failure, to);
    if (!rolloutNote.empty())
        reportLine(rolloutNote);
    return publishSourceTree(options, to, tree, start);
}

int rollbackCommand(const Options& options)
{
    const auto start = std::chrono::steady_clock::now();
    std::string failure;
    // Nothing is made for a mistyped name: only a channel has releases to go back to.
    if (!(failure = notAChannel(options.operands.front())).empty())
        return refusePublish(failure, options.operands.front());
    const unsigned long long serial = options.rollbackSerial;
    const HeldTree keptRelease = [serial](const ChannelDirectory& channel, SourceTree& tree) {
        return keptReleaseFiles(channel, serial, tree);
    };
    return publishSourceTree(options, options.operands.front(), SourceTree(), start, keptRelease);
}
