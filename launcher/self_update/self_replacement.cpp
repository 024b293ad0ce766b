#include "launcher/self_update/self_replacement.h"

#include "launcher/platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

void swapInOwnFiles(SelfFileFlags flags)
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
            std::perror(file.createOldFailure);
        if (!platform::moveFileNoReplace(file.newName, file.name)) {
            std::perror(file.renameNewFailure);
            // Never leave the launcher or a library missing: put the old one back.
            if (movedAside) {
                const int cause = errno;
                platform::moveFileNoReplace(file.oldName, file.name);
                errno = cause;
            }
        }
    }
    if (flags != 0)
        platform::flushCurrentDirectoryToDisk();
}

void patchAndLaunch(SelfFileFlags flags)
{
    swapInOwnFiles(flags);
    std::exit(platform::runClient());
}
