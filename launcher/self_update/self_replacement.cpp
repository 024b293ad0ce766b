#include "launcher/self_update/self_replacement.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>

namespace {

enum class SwapStep { keepOld, placeNew };

// Where a refused move put back: the old copy in its place (on Windows), or its second link gone.
void putOldBack(const OwnFile& file)
{
    platform::FileFacts facts;
    if (platform::fileFacts(file.name, facts))
        platform::removeFile(file.oldName);
    else
        platform::retryWhileHeld([&] { return platform::moveFileNoReplace(file.oldName, file.name); }, nullptr, 2000);
}

// One try at one own file's swap. Where the platform allows it the old copy is a second link and the new one
// replaces the name at once; on Windows the name is free from the first move to the second, with nothing in
// between, and a refused second move puts the old copy straight back: no wait ever leaves the name missing.
bool trySwap(const OwnFile& file, SwapStep& failedAt)
{
    if (!platform::keepOldCopy(file.name, file.oldName)) {
        failedAt = SwapStep::keepOld;
        return false;
    }
    if (platform::replaceFile(file.newName, file.name))
        return true;
    failedAt = SwapStep::placeNew;
    const int cause = errno;
    putOldBack(file);
    errno = cause;
    return false;
}

}  // namespace

void swapInOwnFiles(SelfFileFlags flags, Console& console, unsigned int heldWaitMilliseconds)
{
    // After a power cut a filesystem may keep a rename but not the data:
    // the new copies reach the disk before any of them is swapped in.
    for (const OwnFile& file : ownFiles) {
        if ((flags & file.bit) != 0)
            platform::flushFileToDisk(file.newName);
    }
    for (const OwnFile& file : ownFiles) {
        if ((flags & file.bit) == 0)
            continue;
        platform::copyAccessMode(file.name, file.newName);
        // Another program (an antivirus scan of the new copy, the game holding a library) may hold either file.
        SwapStep failedAt = SwapStep::keepOld;
        if (platform::retryWhileHeld([&] { return trySwap(file, failedAt); },
                                     [&] {
                                         console.fileHeld(failedAt == SwapStep::keepOld ? file.name : file.newName,
                                                          heldWaitMilliseconds / 1000);
                                     },
                                     heldWaitMilliseconds))
            continue;
        if (failedAt == SwapStep::placeNew) {
            console.ownFileMoveFailed(file.renameNewFailure, errno);
            continue;
        }
        console.ownFileMoveFailed(file.createOldFailure, errno);
        // With no old copy kept, only a missing name may take the new one.
        if (!platform::moveFileNoReplace(file.newName, file.name))
            console.ownFileMoveFailed(file.renameNewFailure, errno);
    }
    if (flags != 0)
        platform::flushCurrentDirectoryToDisk();
}

void patchAndLaunch(SelfFileFlags flags, Console& console, const std::function<void()>& beforeClient)
{
    swapInOwnFiles(flags, console);
    if (beforeClient)
        beforeClient();
    std::exit(platform::runClient());
}
