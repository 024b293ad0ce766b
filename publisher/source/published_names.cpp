#include "publisher/source/published_names.h"

#include "channel/block_sums.h"
#include "channel/case_folding.h"
#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/manifest_path.h"
#include "channel/own_files.h"

#include <regex>
#include <sstream>

namespace {

// Names the launcher handles as its own in the game directory (Windows,
// where letter case does not tell files apart): a game file under one
// would be removed, renamed or written over by the launcher itself.
std::string launcherNameProblem(const std::string& path)
{
    const std::string folded = foldedCase(path);
    if (hasSuffix(folded, launcherPartialSuffix) || hasSuffix(folded, launcherResumeSuffix))
        return "a name that the launcher keeps for its unfinished downloads (" + std::string(launcherPartialSuffix) +
               ", " + launcherResumeSuffix + "), which it removes";
    if (isLauncherRecord(path))
        return "the launcher keeps its own records under this name in the game directory; it cannot be a game file";
    for (const OwnFile& own : ownFiles) {
        if (folded == foldedCase(own.name) && path != own.name)
            return std::string("the launcher's own ") + own.name +
                   " in another letter case: on Windows the launcher would be written over by it";
        if (folded == foldedCase(own.newName) || folded == foldedCase(own.oldName))
            return std::string("a name the launcher uses while it replaces its own ") + own.name +
                   ", which it removes or writes over";
    }
    return std::string();
}

// Windows gives a long name a short alias ("ORN_LA~1.EXE" for ORN_Launcher.exe)
// on volumes that keep them, so a file published under a name of that form
// may stand for another one, the launcher's own included. Any name of the
// form is refused: nobody needs one for a game file.
bool hasShortNameForm(const std::string& path)
{
    static const std::regex shortName("[^.~]{0,6}~[0-9]{1,6}(\\.[^.]{1,3})?");
    std::istringstream segments(path);
    for (std::string segment; std::getline(segments, segment, '/');) {
        if (std::regex_match(segment, shortName))
            return true;
    }
    return false;
}

// Names of the channel's own, at its top level.
std::string channelNameProblem(const std::string& name)
{
    if (name != libraryDirectoryName && foldedCase(name) == libraryDirectoryName)
        return std::string("Windows cannot hold it beside the ") + libraryDirectoryName +
               "/ directory (names that differ only in letter case are one)";
    // Any letter case: a server on a case-insensitive disk holds both as one.
    if (foldedCase(name) == objectsDirectoryName)
        return std::string("a name the channel keeps for its folder of chunk indexes (") + objectsDirectoryName +
               "/), in any letter case";
    if (name == channelLockName || name == channelManifestName || name == channelReleaseName)
        return "the channel's own lock, manifest and release cannot be published as files";
    return std::string();
}

}  // namespace

std::string nameProblem(const std::string& path)
{
    const std::string channelOwn = path.find('/') == std::string::npos ? channelNameProblem(path) : "";
    if (!channelOwn.empty())
        return channelOwn;
    if (!isSafeManifestPath(path))
        return "a name that the launcher refuses or that Windows cannot hold";
    if (hasShortNameForm(path))
        return "a name of the form of Windows' short aliases (such as ORN_LA~1.EXE), which may stand for another "
               "file there, the launcher's own included";
    if (path.find(publisherTemporarySuffix) != std::string::npos)
        return "a name that orn-publish keeps for its own temporary files";
    // The signed release gives each chunk index as "<path>.orn-chunks", its block sums as "<path>.orn-blocks".
    if (hasSuffix(foldedCase(path), chunkIndexEntrySuffix) || hasSuffix(foldedCase(path), blockSumsEntrySuffix))
        return std::string("a name that signed releases keep for the chunk indexes and block sums of files (") +
               chunkIndexEntrySuffix + ", " + blockSumsEntrySuffix + ")";
    return launcherNameProblem(path);
}
