#include "launcher/update_preflight.h"

#include "channel/channel_names.h"
#include "launcher/download/partial_download.h"
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <set>

namespace {

// The folder part of a local name, "" for the top level.
std::string folderOf(const std::string& localName)
{
    const std::string::size_type slash = localName.find_last_of('/');
    return slash == std::string::npos ? std::string() : localName.substr(0, slash + 1);
}

// A name no published file can have (the publisher refuses the partial-download suffix), swept up as a stale
// partial download by a later start should a kill leave it.
const char* const writeCheckName = "ORN_Launcher.write-check";

bool takesNewFile(const std::string& folder, int& cause)
{
    const std::string probe = folder + writeCheckName + launcherPartialSuffix;
    std::ofstream file;
    errno = 0;
    platform::openForWriting(file, probe);
    if (!file) {
        cause = errno != 0 ? errno : EACCES;
        return false;
    }
    file.close();
    platform::removeFile(probe.c_str());
    return true;
}

unsigned long long fileSize(const std::string& name)
{
    platform::FileFacts facts;
    return platform::fileFacts(name, facts) ? facts.size : 0;
}

// What a file takes of the volume: whole clusters of 4 KiB, as NTFS and ext4 give by default.
unsigned long long onDisk(unsigned long long bytes)
{
    return (bytes + 4095) / 4096 * 4096;
}

}  // namespace

bool foldersTakeNewFiles(const std::vector<PlannedDownload>& plan, Console& console)
{
    std::set<std::string> folders;
    for (const PlannedDownload& file : plan)
        folders.insert(folderOf(file.localName));
    for (std::string folder : folders) {
        int cause = 0;
        if (takesNewFile(folder, cause))
            continue;
        // A folder still to be made ("libs/" on a first install) is made in the one above it.
        if (cause == ENOENT && !folder.empty()) {
            folder.clear();
            if (takesNewFile(folder, cause))
                continue;
        }
        console.folderNotWritable(platform::fullFolderName(folder.empty() ? "" : folder.substr(0, folder.size() - 1)),
                                  cause);
        return false;
    }
    return true;
}

unsigned long long peakBytesNeeded(const std::vector<SpaceStep>& steps)
{
    long long used = 0;  // beyond what the volume holds now
    long long peak = 0;
    for (const SpaceStep& step : steps) {
        const long long written =
            static_cast<long long>(onDisk(step.size) - std::min(onDisk(step.kept), onDisk(step.size)));
        used += written;
        peak = std::max(peak, used);
        used -= static_cast<long long>(onDisk(step.replaced));
    }
    return static_cast<unsigned long long>(peak);
}

bool volumeHoldsUpdate(const std::vector<PlannedDownload>& plan,
                       const std::unordered_map<std::string, ReleaseEntry>& signedEntries, Console& console)
{
    std::vector<SpaceStep> steps;
    for (const PlannedDownload& file : plan) {
        const auto signedEntry = signedEntries.find(file.path);
        if (signedEntry == signedEntries.end())
            continue;
        const unsigned long long size = signedEntry->second.size;
        steps.push_back({size, std::min(fileSize(partialNameFor(file.localName)), size), fileSize(file.localName)});
    }
    unsigned long long available = 0;
    const unsigned long long needed = peakBytesNeeded(steps);
    if (!platform::freeDiskSpace(".", available) || needed <= available)
        return true;
    console.notEnoughSpace(needed, available);
    return false;
}
