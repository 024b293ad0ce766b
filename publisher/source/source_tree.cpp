#include "publisher/source/source_tree.h"

#include "channel/case_folding.h"
#include "channel/channel_names.h"
#include "channel/own_files.h"
#include "publisher/keys/secret_key.h"
#include "publisher/source/published_names.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The --sign key file, when one is given: never published, under any name.
struct KeyFileIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
};

// Why the open source file is never published: a secret key (it starts as
// a key file does), or the file given with --sign; empty when neither.
std::string keyProblem(std::ifstream& in, const fs::path& location, const KeyFileIdentity& key)
{
    std::string start(std::strlen(secretKeyFileMarker), '\0');
    in.read(&start[0], static_cast<std::streamsize>(start.size()));
    start.resize(static_cast<std::size_t>(in.gcount()));
    if (start == secretKeyFileMarker)
        return "a secret key, which is never published (keep it out of the release tree)";
    struct stat facts {};
    if (key.known && ::stat(location.c_str(), &facts) == 0 && facts.st_dev == key.device && facts.st_ino == key.inode)
        return "the file given with --sign, which is never published (and is no secret key: is it the key meant?)";
    return std::string();
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

void addEntry(const fs::directory_entry& entry, const std::string& path, const KeyFileIdentity& key, SourceTree& tree)
{
    const std::string named = nameProblem(path);
    if (!named.empty()) {
        tree.problems.push_back(path + ": " + named);
        return;
    }
    std::error_code error;
    const fs::file_status own = entry.symlink_status(error);
    const fs::file_status target = entry.status(error);
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
    const std::string keyOwn = keyProblem(in, entry.path(), key);
    if (!keyOwn.empty()) {
        tree.problems.push_back(path + ": " + keyOwn);
        return;
    }
    tree.files.push_back({path, entry.path(), "", 0, nullptr, ""});
}

bool isRealDirectory(const fs::directory_entry& entry)
{
    std::error_code error;
    return entry.is_directory(error) && !entry.is_symlink(error);
}

// libs/: its files; anything in a folder below it is refused.
void readLibraries(const fs::path& directory, const std::string& name, const KeyFileIdentity& key, SourceTree& tree)
{
    std::error_code error;
    for (const fs::directory_entry& library : fs::directory_iterator(directory, error)) {
        const std::string libraryPath = name + "/" + library.path().filename().string();
        if (isRealDirectory(library))
            refuseEverythingBelow(library.path(), libraryPath + "/", tree);
        else
            addEntry(library, libraryPath, key, tree);
    }
}

// Once every file is in, sorted: what only the whole tree shows.
void checkWholeTree(SourceTree& tree)
{
    // Windows keeps one file for names that differ only in letter case.
    std::map<std::string, std::string> byFoldedCase;
    for (const SourceFile& file : tree.files) {
        const auto inserted = byFoldedCase.emplace(foldedCase(file.path), file.path);
        if (!inserted.second)
            tree.problems.push_back(inserted.first->second + " and " + file.path +
                                    ": names that differ only in letter case, which Windows holds as one file");
    }
    const auto holds = [&tree](const std::string& path) {
        return std::any_of(tree.files.begin(), tree.files.end(),
                           [&path](const SourceFile& file) { return file.path == path; });
    };
    if (!holds(gameClientName))
        tree.warnings.push_back(std::string(gameClientName) +
                                " is missing: a player without it gets status 127 instead of the game; add it to the "
                                "release tree unless players have it from elsewhere");
    for (const OwnFile& own : ownFiles) {
        if (!holds(own.name))
            tree.warnings.push_back(std::string(own.name) + " is missing: launchers keep the copy they have");
    }
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
        if (isRealDirectory(entry) && name == libraryDirectoryName)
            readLibraries(entry.path(), name, key, tree);
        else if (isRealDirectory(entry))
            refuseEverythingBelow(entry.path(), name + "/", tree);
        else
            addEntry(entry, name, key, tree);
    }
    if (error)
        tree.problems.push_back(root.string() + ": cannot be read: " + error.message());
    std::sort(tree.files.begin(), tree.files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
    checkWholeTree(tree);
    std::sort(tree.problems.begin(), tree.problems.end());
    return tree;
}
