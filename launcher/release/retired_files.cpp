#include "launcher/release/retired_files.h"

#include "channel/case_folding.h"
#include "channel/channel_names.h"
#include "channel/manifest.h"
#include "channel/manifest_path.h"
#include "channel/own_files.h"
#include "index/file_index.h"
#include "index/local_scan.h"
#include "index/game_directory.h"
#include "platform/platform.h"
#include "launcher/release/accepted_release.h"

#include <unordered_set>

namespace {

bool isLaunchersOwn(const std::string& folded)
{
    for (const OwnFile& own : ownFiles)
        if (folded == foldedCase(own.name) || folded == foldedCase(own.newName) || folded == foldedCase(own.oldName))
            return true;
    if (isLauncherRecord(folded))
        return true;
    return hasSuffix(folded, launcherPartialSuffix) || hasSuffix(folded, launcherResumeSuffix);
}

}  // namespace

std::unordered_map<std::string, std::string>
retiredCandidates(const std::unordered_map<std::string, std::string>& before,
                  const std::unordered_map<std::string, std::string>& now)
{
    std::unordered_set<std::string> keptFolded;
    for (const auto& listed : now)
        keptFolded.insert(foldedCase(listed.first));
    std::unordered_map<std::string, std::string> candidates;
    for (const auto& [path, digest] : before) {
        const std::string folded = foldedCase(path);
        if (isSafeManifestPath(path) && keptFolded.count(folded) == 0 && !isLaunchersOwn(folded))
            candidates.emplace(path, digest);
    }
    return candidates;
}

std::vector<std::string> removeRetiredFiles(const std::string& channel, const std::vector<ReleaseKey>& keys,
                                            const std::unordered_map<std::string, std::string>& listedNow)
{
    std::vector<std::string> removed;
    std::string manifestText;
    if (!readAcceptedManifest(channel, keys, manifestText))
        return removed;
    Manifest retired;
    retired.digests = retiredCandidates(parseManifest(manifestText).digests, listedNow);
    if (retired.digests.empty())
        return removed;
    FileIndex index(std::move(retired));
    scanLocalFiles(index, scannedFolderList(), nullptr);  // read now: only the very bytes listed may go
    for (const auto& [path, digest] : index.localDigests) {
        const auto listed = index.remoteDigests.find(path);
        if (listed != index.remoteDigests.end() && listed->second == digest && platform::removeFile(path.c_str()))
            removed.push_back(path);
    }
    return removed;
}
