#include "launcher/self_update/self_replacement.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>

namespace {

// One move of the swap, tried again while another program (an antivirus
// scan of the new copy, the game holding a library) holds the file.
bool moveWhileHeld(const std::function<bool()>& move, const char* name, Console& console, unsigned int heldWait)
{
    return platform::retryWhileHeld(
        move, [&] { console.fileHeld(name, heldWait / 1000); }, heldWait);
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
        // Where the platform allows it the old copy is a second link and the new one replaces the name at
        // once; on Windows the name is free from the first move to the second, with nothing in between.
        const bool keptOld = moveWhileHeld([&] { return platform::keepOldCopy(file.name, file.oldName); }, file.name,
                                           console, heldWaitMilliseconds);
        if (!keptOld)
            console.ownFileMoveFailed(file.createOldFailure, errno);
        const bool placed = moveWhileHeld(
            [&] {
                return keptOld ? platform::replaceFile(file.newName, file.name)
                               : platform::moveFileNoReplace(file.newName, file.name);
            },
            file.newName, console, heldWaitMilliseconds);
        if (placed)
            continue;
        console.ownFileMoveFailed(file.renameNewFailure, errno);
        if (!keptOld)
            continue;
        // Never leave the launcher or a library missing: the old one back, or its second link gone.
        platform::FileFacts facts;
        if (platform::fileFacts(file.name, facts))
            platform::removeFile(file.oldName);
        else
            platform::moveFileNoReplace(file.oldName, file.name);
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
