#include "channel/own_files.h"

#include "channel/case_folding.h"
#include "channel/channel_names.h"

const OwnFile ownFiles[4] = {
    {"ORN_Launcher.exe", 1, "ORN_Launcher.exe.new", "ORN_Launcher.exe.old", "Failed to create ORN_Launcher.exe.old",
     "Failed to rename ORN_Launcher.exe.new"},
    {"physfs.dll", 8, "physfs.dll.new", "physfs.dll.old", "Failed to create physfs.dll.old",
     "Failed to rename physfs.dll.new"},
    {"sfml-network-2.dll", 2, "sfml-network-2.dll.new", "sfml-network-2.dll.old",
     "Failed to create sfml-network-2.dll.old", "Failed to rename sfml-network-2.dll.new"},
    {"sfml-system-2.dll", 4, "sfml-system-2.dll.new", "sfml-system-2.dll.old", "Failed to create sfml-system-2.dll.old",
     "Failed to rename sfml-system-2.dll.new"},
};

bool isLauncherRecord(const std::string& path)
{
    const std::string folded = foldedCase(path);
    for (const char* record : {launcherDigestCacheName, launcherAcceptedSerialsName, launcherAcceptedReleaseName,
                               launcherInstalledListingName, launcherLogName, launcherLockName, installIdFileName})
        if (folded == foldedCase(record))
            return true;
    return false;
}
