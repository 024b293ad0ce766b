#include "index/game_directory.h"

#include "channel/manifest_path.h"
#include "platform/platform.h"

#include <physfs.h>

#include <string_view>

// A temporary name must fit wherever the path rule lets a game file's name go.
static_assert(std::string_view(launcherPartialSuffix).size() <= longestTemporarySuffix &&
                  std::string_view(launcherResumeSuffix).size() <= longestTemporarySuffix,
              "the path rule leaves no room for the launcher's temporary names");

void openGameDirectory(const char* argv0)
{
    PHYSFS_init(argv0);
    const char* const baseDir = PHYSFS_getBaseDir();
    mountGameDirectory(baseDir != nullptr ? baseDir : "");
    // Started from elsewhere (a full path, a shortcut's "Start in"), the
    // launcher must still clean up, write, rename and run the client in the
    // directory it hashes; if the change fails it goes on where it is.
    if (baseDir != nullptr)
        platform::changeDirectory(baseDir);
}

void mountGameDirectory(const std::string& folder)
{
    PHYSFS_mount(folder.c_str(), nullptr, 1);
    // A "libs" that is a link to a folder elsewhere (the game's data moved to
    // another disk; a junction) is written through, so the scan must look
    // through it too; PhysFS lists no directory that is a link, so the folder
    // behind it is mounted as "libs" itself.
    PHYSFS_permitSymbolicLinks(1);
    PHYSFS_Stat libs;
    if (PHYSFS_stat(libraryDirectoryName, &libs) != 0 && libs.filetype == PHYSFS_FILETYPE_SYMLINK)
        PHYSFS_mount((folder + libraryFolder).c_str(), libraryDirectoryName, 1);
    PHYSFS_setWriteDir(folder.c_str());
}

std::vector<std::string> gameDirectoryEntries(const std::string& prefix)
{
    std::vector<std::string> entries;
    char** names = PHYSFS_enumerateFiles(("/" + prefix).c_str());
    if (names == nullptr)
        return entries;
    for (char** name = names; *name != nullptr; ++name)
        entries.emplace_back(*name);
    PHYSFS_freeList(names);
    return entries;
}

std::string localNameOf(const std::string& path, SelfFileFlags* ownBit)
{
    for (const OwnFile& file : ownFiles) {
        if (path == file.name) {
            if (ownBit != nullptr)
                *ownBit = file.bit;
            return file.newName;
        }
    }
    if (ownBit != nullptr)
        *ownBit = 0;
    return path;
}
