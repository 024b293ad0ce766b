#include "launcher/uninstall/uninstall.h"

#include "channel/channel_names.h"
#include "channel/own_files.h"
#include "index/game_directory.h"
#include "launcher/uninstall/installed_files.h"
#include "platform/file_lock.h"
#include "platform/platform.h"

#include <physfs.h>

#include <cerrno>
#include <set>
#include <string>

namespace {

class Removal {
public:
    explicit Removal(UninstallConsole& console) : console_(console) {}

    void remove(const std::string& path)
    {
        if (platform::removeFile(path.c_str())) {
            ++tally_.removed;
            return;
        }
        const int cause = errno;
        if (cause == ENOENT)
            return;  // gone already: nothing stands in the way
        ++tally_.notRemoved;
        failed_.insert(path);
        console_.fileNotRemoved(path, cause);
    }

    void removeInstalled(const InstalledFiles& installed);
    void removeLaunchersOwn();
    void tellLeft(const std::string& prefix);
    UninstallTally& tally() { return tally_; }

private:
    UninstallConsole& console_;
    UninstallTally tally_;
    std::set<std::string> failed_;
    bool gameFileStays_ = false;  // one that should have gone did not
};

// What names the installed files: kept while one of them could not go, so that the next uninstall finishes.
bool namesInstalledFiles(const std::string& name)
{
    return name == launcherAcceptedReleaseName || name == launcherInstalledListingName;
}

// Exact names only, as the launcher writes them: a player's "orn_launcher.LOG" on Linux is another file.
bool isLaunchersLeftover(const std::string& name)
{
    for (const char* record : {launcherDigestCacheName, launcherAcceptedSerialsName, launcherAcceptedReleaseName,
                               launcherInstalledListingName, launcherLogName, installIdFileName})
        if (name == record)
            return true;
    for (const OwnFile& own : ownFiles)
        if (name == own.newName || name == own.oldName)
            return true;
    return hasSuffix(name, launcherPartialSuffix) || hasSuffix(name, launcherResumeSuffix);
}

bool isKeptForTheUninstaller(const std::string& path)
{
    for (const OwnFile& own : ownFiles)
        if (path == own.name)
            return true;
    return path == launcherLockName;  // removed last, once let go
}

bool isRealDirectory(const std::string& path)
{
    PHYSFS_Stat stat;
    return PHYSFS_stat(path.c_str(), &stat) != 0 && stat.filetype == PHYSFS_FILETYPE_DIRECTORY;
}

// What lies behind a libs that is a link is the player's (another game's, shared): never removed.
bool behindLibraryLink(const std::string& prefix)
{
    return !prefix.empty() && !isRealDirectory(libraryDirectoryName);
}

void Removal::removeInstalled(const InstalledFiles& installed)
{
    for (const std::string& prefix : scannedFolders) {
        if (behindLibraryLink(prefix))
            continue;
        for (const std::string& name : gameDirectoryEntries(prefix)) {
            const auto found = installed.files.find(prefix + name);
            if (found != installed.files.end() && holdsInstalledBytes(found->first, found->second))
                remove(found->first);
            gameFileStays_ = gameFileStays_ || failed_.count(prefix + name) != 0;
        }
    }
}

void Removal::removeLaunchersOwn()
{
    for (const std::string& prefix : scannedFolders) {
        if (behindLibraryLink(prefix))
            continue;
        for (const std::string& name : gameDirectoryEntries(prefix)) {
            // Its records live at the top level; partial downloads go beside their files.
            if (prefix.empty() ? isLaunchersLeftover(name) && !(gameFileStays_ && namesInstalledFiles(name))
                               : hasSuffix(name, launcherPartialSuffix) || hasSuffix(name, launcherResumeSuffix))
                remove(prefix + name);
        }
    }
    // Only a folder: a libs that is a link is the player's, and so is what lies behind it.
    if (isRealDirectory(libraryDirectoryName) && gameDirectoryEntries(libraryFolder).empty())
        platform::removeEmptyDirectory(libraryDirectoryName);
}

// Every file still in the game directory, through its folders but no link other than libs.
void Removal::tellLeft(const std::string& prefix)
{
    for (const std::string& name : gameDirectoryEntries(prefix)) {
        const std::string path = prefix + name;
        const bool isLibrary = prefix.empty() && name == libraryDirectoryName;
        if (isRealDirectory(path) || (isLibrary && !gameDirectoryEntries(libraryFolder).empty())) {
            tellLeft(path + "/");
        } else if (!isKeptForTheUninstaller(path) && failed_.count(path) == 0 &&
                   !(prefix.empty() && isLaunchersLeftover(name))) {
            ++tally_.left;
            console_.fileLeft(path);
        }
    }
}

bool takeDirectory(platform::FileLock& lock, unsigned int waitMilliseconds)
{
    const unsigned int pollMilliseconds = 250;
    for (unsigned int waited = 0;; waited += pollMilliseconds) {
        // A folder where no lock can be made is one no launcher writes either.
        if (lock.tryTake(launcherLockName) != platform::FileLock::Outcome::heldElsewhere)
            return true;
        if (waited >= waitMilliseconds)
            return false;
        platform::pauseMilliseconds(pollMilliseconds);
    }
}

}  // namespace

int uninstallGame(const std::vector<ReleaseKey>& keys, UninstallConsole& console, unsigned int lockWaitMilliseconds)
{
    platform::FileLock lock;
    if (!takeDirectory(lock, lockWaitMilliseconds)) {
        console.uninstallBlocked();
        return 1;
    }
    const InstalledFiles installed = installedFiles(keys);
    Removal removal(console);
    removal.removeInstalled(installed);
    removal.removeLaunchersOwn();
    removal.tellLeft("");
    lock.release();
    removal.remove(launcherLockName);
    removal.tally().installedKnown = installed.known;
    console.uninstallEnded(removal.tally());
    return removal.tally().notRemoved == 0 ? 0 : 1;
}
