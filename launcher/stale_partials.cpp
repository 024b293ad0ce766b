#include "channel/own_files.h"
#include "digest/md5.h"
#include "launcher/partial_download.h"

#include <physfs.h>


namespace {

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Where a manifest path is written: its own name, or an own file's ".new" copy.
std::string localNameOf(const std::string& path)
{
    for (const OwnFile& file : ownFiles) {
        if (path == file.name)
            return file.newName;
    }
    return path;
}

}  // namespace

void removeStalePartials(const std::unordered_map<std::string, std::string>& manifestDigests)
{
    for (const std::string prefix : {"", "libs/"}) {
        char** names = PHYSFS_enumerateFiles(("/" + prefix).c_str());
        if (names == nullptr)
            continue;
        for (char** name = names; *name != nullptr; ++name) {
            const std::string entry = prefix + *name;
            std::string localName;
            if (endsWith(entry, partialSuffix))
                localName = entry.substr(0, entry.size() - partialSuffix.size());
            else if (endsWith(entry, resumeRecordSuffix))
                localName = entry.substr(0, entry.size() - resumeRecordSuffix.size());
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
