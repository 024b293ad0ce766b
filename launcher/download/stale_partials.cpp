#include "launcher/download/partial_download.h"

#include "index/game_directory.h"
#include "digest/md5.h"
#include "launcher/download/fetched_entry.h"

#include <cstring>

void removeStalePartials(const std::unordered_map<std::string, std::string>& manifestDigests)
{
    for (const std::string& prefix : scannedFolders) {
        for (const std::string& name : gameDirectoryEntries(prefix)) {
            const std::string entry = prefix + name;
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
    }
}
