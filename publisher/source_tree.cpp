#include "publisher/source_tree.h"

#include "channel/case_folding.h"
#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/manifest_path.h"
#include "channel/own_files.h"
#include "publisher/channel_files.h"
#include "publisher/secret_key.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

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
    if (folded == foldedCase(launcherDigestCacheName) || folded == foldedCase(launcherAcceptedSerialsName) ||
        folded == foldedCase(launcherAcceptedReleaseName))
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

// The --sign key file, when one is given: never published, under any name.
struct KeyFileIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
};

// Whether the open source file is a secret key: the one given, or any that starts as a key file does.
bool isSecretKey(std::ifstream& in, const fs::path& location, const KeyFileIdentity& key)
{
    std::string start(std::strlen(secretKeyFileMarker), '\0');
    in.read(&start[0], static_cast<std::streamsize>(start.size()));
    start.resize(static_cast<std::size_t>(in.gcount()));
    struct stat facts {};
    return start == secretKeyFileMarker || (key.known && ::stat(location.c_str(), &facts) == 0 &&
                                            facts.st_dev == key.device && facts.st_ino == key.inode);
}

// Every file below a directory that the launcher never scans.
void refuseEverythingBelow(const fs::path& directory, const std::string& shownAs, SourceTree& tree)
{
    std::error_code error;
    for (fs::recursive_directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_directory(error))
            tree.problems.push_back(shownAs + it->path().lexically_relative(directory).generic_string() +
                                    ": the launcher only looks at the top level and libs/, so it would fetch this "
                                    "file on every start");
    }
}

void addEntry(const fs::directory_entry& entry, const std::string& path, const KeyFileIdentity& key,
              SourceTree& tree)
{
    std::error_code error;
    const fs::file_status own = entry.symlink_status(error);
    const fs::file_status target = entry.status(error);
    if (!isSafeManifestPath(path)) {
        tree.problems.push_back(path + ": a name that the launcher refuses or that Windows cannot hold");
        return;
    }
    if (hasShortNameForm(path)) {
        tree.problems.push_back(path + ": a name of the form of Windows' short aliases (such as ORN_LA~1.EXE), "
                                       "which may stand for another file there, the launcher's own included");
        return;
    }
    if (path.find(publisherTemporarySuffix) != std::string::npos) {
        tree.problems.push_back(path + ": a name that orn-publish keeps for its own temporary files");
        return;
    }
    // The signed release gives each chunk index as "<path>.orn-chunks".
    if (hasSuffix(foldedCase(path), chunkIndexEntrySuffix)) {
        tree.problems.push_back(path + ": a name that signed releases keep for the chunk indexes of files (" +
                                chunkIndexEntrySuffix + ")");
        return;
    }
    const std::string launcherOwn = launcherNameProblem(path);
    if (!launcherOwn.empty()) {
        tree.problems.push_back(path + ": " + launcherOwn);
        return;
    }
    if (fs::is_symlink(own) && !fs::is_regular_file(target)) {
        tree.problems.push_back(path + ": a symbolic link that does not lead to a regular file");
        return;
    }
    if (!fs::is_regular_file(target)) {
        tree.problems.push_back(path + ": not a regular file");
        return;
    }
    // Unreadable now would mean failing later, with the lock up.
    std::ifstream in(entry.path(), std::ios::binary);
    if (!in) {
        tree.problems.push_back(path + ": cannot be read: " + std::strerror(errno));
        return;
    }
    if (isSecretKey(in, entry.path(), key)) {
        tree.problems.push_back(path + ": a secret key, which is never published (keep it out of the release tree)");
        return;
    }
    tree.files.push_back({path, entry.path()});
}

}  // namespace

SourceTree readSourceTree(const fs::path& root, const fs::path& secretKey)
{
    SourceTree tree;
    KeyFileIdentity key;
    struct stat facts {};
    if (!secretKey.empty() && ::stat(secretKey.c_str(), &facts) == 0)
        key = {true, facts.st_dev, facts.st_ino};
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        tree.problems.push_back(root.string() + ": not a directory");
        return tree;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(root, error)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory(error) && !entry.is_symlink(error)) {
            if (name != libraryDirectoryName) {
                refuseEverythingBelow(entry.path(), name + "/", tree);
                continue;
            }
            for (const fs::directory_entry& library : fs::directory_iterator(entry.path(), error)) {
                const std::string libraryPath = name + "/" + library.path().filename().string();
                if (library.is_directory(error) && !library.is_symlink(error))
                    refuseEverythingBelow(library.path(), libraryPath + "/", tree);
                else
                    addEntry(library, libraryPath, key, tree);
            }
            continue;
        }
        if (name != libraryDirectoryName && foldedCase(name) == libraryDirectoryName) {
            tree.problems.push_back(name + ": Windows cannot hold it beside the " + libraryDirectoryName +
                                    "/ directory (names that differ only in letter case are one)");
            continue;
        }
        if (foldedCase(name) == objectsDirectoryName) {
            // Any letter case: a server on a case-insensitive disk holds both as one.
            tree.problems.push_back(name + ": a name the channel keeps for its folder of chunk indexes (" +
                                    objectsDirectoryName + "/), in any letter case");
            continue;
        }
        if (name == channelLockName || name == channelManifestName || name == channelReleaseName) {
            tree.problems.push_back(name + ": the channel's own lock, manifest and release cannot be published as files");
            continue;
        }
        addEntry(entry, name, key, tree);
    }
    if (error)
        tree.problems.push_back(root.string() + ": cannot be read: " + error.message());

    std::sort(tree.files.begin(), tree.files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
    // Windows keeps one file for names that differ only in letter case.
    std::map<std::string, std::string> byFoldedCase;
    for (const SourceFile& file : tree.files) {
        const auto inserted = byFoldedCase.emplace(foldedCase(file.path), file.path);
        if (!inserted.second)
            tree.problems.push_back(inserted.first->second + " and " + file.path +
                                    ": names that differ only in letter case, which Windows holds as one file");
    }
    for (const OwnFile& own : ownFiles) {
        const auto named = [&own](const SourceFile& file) { return file.path == own.name; };
        if (std::find_if(tree.files.begin(), tree.files.end(), named) == tree.files.end())
            tree.warnings.push_back(std::string(own.name) +
                                    " is missing: launchers keep the copy they have");
    }
    std::sort(tree.problems.begin(), tree.problems.end());
    return tree;
}
