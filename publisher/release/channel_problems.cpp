#include "publisher/release/channel_problems.h"

#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "publisher/folder/channel_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <map>

namespace {

// Why what stands at `path` is refused; empty when it is not.
std::string problemWith(const std::string& path, const struct stat& facts)
{
    if (S_ISLNK(facts.st_mode))
        return "a symbolic link inside the channel; orn-publish never reads, writes or removes anything through "
               "one (remove it)";
    if (!S_ISREG(facts.st_mode) && !S_ISDIR(facts.st_mode))
        return "a FIFO, socket or device file inside the channel; orn-publish never opens one (remove it)";
    const bool read = path == channelManifestName || path == channelReleaseName || path == publisherJournalName;
    const bool written = read || path == channelLockName || hasSuffix(path, publisherTemporarySuffix);
    if (written && !S_ISREG(facts.st_mode))
        return "not a regular file, under a name that orn-publish writes (remove it)";
    const std::string indexFolder = objectsDirectoryName;
    if (path == indexFolder && !S_ISDIR(facts.st_mode))
        return "not a directory, where orn-publish keeps the chunk indexes of signed releases (remove it)";
    if (path.compare(0, indexFolder.size() + 1, indexFolder + "/") == 0 && !S_ISREG(facts.st_mode))
        return "not a regular file, in the folder of chunk indexes, which holds nothing else (remove it)";
    if (read && facts.st_nlink != 1)
        return "a file with other names (a hard link), which orn-publish never reads (give it a copy of its own)";
    return std::string();
}

// A directory where the tree puts a file, or a file where it puts a folder
// (`libs`): the copy would fail with the lock up, and so would every rerun.
// Links and other kinds are named by the walk.
void addInTheWayOfTree(const ChannelDirectory& channel, const std::vector<SourceFile>& files,
                       std::vector<std::string>& problems)
{
    std::map<std::string, bool> folders;  // each path the tree writes: true for a folder, false for a file
    for (const SourceFile& file : files) {
        for (std::string::size_type slash = file.path.find('/'); slash != std::string::npos;
             slash = file.path.find('/', slash + 1))
            folders[file.path.substr(0, slash)] = true;
        folders[file.path] = false;
    }
    for (const auto& [path, folder] : folders) {
        const ChannelDirectory::Kind kind = channel.kindOf(path);
        if (folder && kind == ChannelDirectory::Kind::regular)
            problems.push_back(channel.shown(path) + ": a file where the release tree has a folder (remove it)");
        else if (!folder && kind == ChannelDirectory::Kind::directory)
            problems.push_back(channel.shown(path) + ": a directory where the release tree has a file (remove it)");
    }
}

}  // namespace

std::vector<std::string> channelProblems(const ChannelDirectory& channel, const std::vector<SourceFile>& files)
{
    std::vector<std::string> problems;
    std::deque<std::string> directories{""};
    while (!directories.empty()) {
        const std::string directory = directories.front();
        directories.pop_front();
        std::vector<std::string> names;
        if (!channel.list(directory, names)) {
            problems.push_back(channel.shown(directory) + ": cannot be searched for symbolic links");
            continue;
        }
        for (const std::string& name : names) {
            const std::string path = directory.empty() ? name : directory + "/" + name;
            struct stat facts {};
            if (!channel.statOf(path, facts)) {
                problems.push_back(channel.shown(path) + ": cannot be examined");
                continue;
            }
            if (S_ISDIR(facts.st_mode))
                directories.push_back(path);
            const std::string problem = problemWith(path, facts);
            if (!problem.empty())
                problems.push_back(channel.shown(path) + ": " + problem);
        }
    }
    addInTheWayOfTree(channel, files, problems);
    std::sort(problems.begin(), problems.end());
    return problems;
}
