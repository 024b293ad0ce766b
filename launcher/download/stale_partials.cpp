#include "launcher/game_directory.h"
#include "digest/md5.h"
#include "launcher/download/fetched_entry.h"

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
            const bool read = readResumeRecord(localName, record);
            const auto listed = manifestDigests.find(record.path);
            const bool current = read && listed != manifestDigests.end() &&
                                 describes(record, {"", record.path, listed->second, nullptr, localName}) &&
                                 localNameOf(record.path) == localName;
            if (!current)
                discardPartial(localName);
        }
        PHYSFS_freeList(names);
    }
}
