#include "launcher/game_directory.h"
#include "digest/md5.h"
#include "launcher/partial_download.h"

#include <physfs.h>

#include <cstring>


namespace {

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

void removeStalePartials(const std::unordered_map<std::string, std::string>& manifestDigests)
{
    for (const std::string& prefix : scannedFolders) {
        char** names = PHYSFS_enumerateFiles(("/" + prefix).c_str());
        if (names == nullptr)
            continue;
        for (char** name = names; *name != nullptr; ++name) {
            const std::string entry = prefix + *name;
            std::string localName;
            if (endsWith(entry, launcherPartialSuffix))
                localName = entry.substr(0, entry.size() - std::strlen(launcherPartialSuffix));
            else if (endsWith(entry, launcherResumeSuffix))
                localName = entry.substr(0, entry.size() - std::strlen(launcherResumeSuffix));
            else
                continue;
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
