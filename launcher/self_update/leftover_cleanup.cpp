#include "launcher/self_update/leftover_cleanup.h"

#include "channel/own_files.h"
#include "launcher/platform/platform.h"

#include <physfs.h>

#include <cstring>

void removeLeftovers()
{
    char** names = PHYSFS_enumerateFiles("/");
    if (names == nullptr)
        return;
    // Exact names only: a player's "readme.older" or "save.old.dat" is not ours to delete.
    for (char** name = names; *name != nullptr; ++name) {
        for (const OwnFile& file : ownFiles) {
            if (std::strcmp(*name, file.oldName) == 0)
                platform::removeFile(file.oldName);
        }
    }
    PHYSFS_freeList(names);
}
