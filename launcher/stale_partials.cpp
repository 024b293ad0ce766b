#include "launcher/game_directory.h"
#include "digest/md5.h"
#include "launcher/partial_download.h"

#include <physfs.h>

#include <cstring>

void removeStalePartials(const std::unordered_map<std::string, std::string>& manifestDigests)
{
    for (const std::string& prefix : scannedFolders) {
        char** names = PHYSFS_enumerateFiles(("/" + prefix).c_str());
        if (names == nullptr)
            continue;
        for (char** name = names; *name != nullptr; ++name) {
            const std::string entry = prefix + *name;
            std::string localName;
            if (hasSuffix(entry, launcherPartialSuffix))
                localName = entry.substr(0, entry.size() - std::strlen(launcherPartialSuffix));
            else if (hasSuffix(entry, launcherResumeSuffix))
                localName = entry.substr(0, entry.size() - std::strlen(launcherResumeSuffix));
            if (localName.empty())
                continue;  // not a partial download's name
            ResumeRecord record;
            const bool current = readResumeRecord(localName, record) && localNameOf(record.path) == localName &&
                                 manifestDigests.count(record.path) != 0 &&
                                 sameHexDigest(manifestDigests.at(record.path), record.digest);
            if (!current)
                discardPartial(localName);
        }
        PHYSFS_freeList(names);
    }
}
