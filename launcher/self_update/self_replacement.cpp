#include "launcher/self_update/self_replacement.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>

void swapInOwnFiles(SelfFileFlags flags, Console& console)
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
        const bool movedAside = platform::moveFileNoReplace(file.name, file.oldName);
        if (!movedAside)
            console.ownFileMoveFailed(file.createOldFailure, errno);
        if (!platform::moveFileNoReplace(file.newName, file.name)) {
            console.ownFileMoveFailed(file.renameNewFailure, errno);
            // Never leave the launcher or a library missing: put the old one back.
            if (movedAside)
                platform::moveFileNoReplace(file.oldName, file.name);
        }
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
