#include "launcher/self_update/leftover_cleanup.h"

#include "channel/own_files.h"
#include "index/game_directory.h"
#include "platform/platform.h"

#include <string>

void removeLeftovers()
{
    for (const OwnFile& file : ownFiles) {
        platform::FileFacts facts;
        if (platform::fileFacts(file.name, facts))
            continue;
        // A ".new" copy is only ever under that name whole and checked.
        if (!platform::moveFileNoReplace(file.newName, file.name))
            platform::moveFileNoReplace(file.oldName, file.name);
    }
    // Exact names only: a player's "readme.older" or "save.old.dat" is not ours to delete.
    for (const std::string& name : gameDirectoryEntries("")) {
        for (const OwnFile& file : ownFiles) {
            if (name == file.oldName)
                platform::removeFile(file.oldName);
        }
    }
}
