#include "publisher/folder/wrong_folders.h"

#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "publisher/folder/resolved_path.h"

#include <sys/stat.h>

#include <initializer_list>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Enough to name a few: the web root may hold thousands of folders.
const std::size_t examinedEntries = 10000;
const std::size_t namedChannels = 5;

const std::initializer_list<const char*> channelTopNames = {channelManifestName, channelReleaseName, channelLockName,
                                                            objectsDirectoryName};

// Which of `names`, written at a channel's top level, `folder` holds.
std::vector<std::string> channelFilesIn(const fs::path& folder,
                                        std::initializer_list<const char*> names = channelTopNames)
{
    std::vector<std::string> present;
    for (const char* name : names) {
        struct stat facts {};
        if (::lstat((folder / name).c_str(), &facts) == 0)
            present.push_back(name);
    }
    return present;
}

// A channel, or a first publish into it that did not finish (its lock is
// up): a file of those names, not a folder such as a release tree's.
bool isChannel(const fs::path& folder)
{
    for (const char* name : {channelManifestName, channelReleaseName, channelLockName}) {
        struct stat facts {};
        if (::lstat((folder / name).c_str(), &facts) == 0 && S_ISREG(facts.st_mode))
            return true;
    }
    return false;
}

bool within(const fs::path& inner, const fs::path& outer)
{
    auto part = inner.begin();
    for (const fs::path& segment : outer) {
        if (segment.empty())
            continue;  // a trailing separator
        if (part == inner.end() || *part != segment)
            return false;
        ++part;
    }
    return true;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The channels among the folders of `folder`, a few of them by name.
std::string channelsIn(const fs::path& folder, const std::string& except = std::string())
{
    std::vector<std::string> channels;
    std::error_code error;
    std::size_t examined = 0;
    for (fs::directory_iterator it(folder, error), end; !error && it != end && examined < examinedEntries;
         it.increment(error), ++examined) {
        const std::string name = it->path().filename().string();
        if (name != except && it->is_directory(error) && !it->is_symlink(error) && isChannel(it->path()))
            channels.push_back(name);
        if (channels.size() == namedChannels)
            break;
    }
    return joined(channels);
}

// The channel that `folder` lies inside, if any: the two would be served as
// one, and each publish would write and remove files of the other.
fs::path enclosingChannel(const fs::path& folder)
{
    for (fs::path outer = folder.parent_path(); outer.has_relative_path(); outer = outer.parent_path())
        if (isChannel(outer))
            return outer;
    return fs::path();
}

std::string wrongChannel(const fs::path& channel, const fs::path& served, bool newChannel);

bool isEmptyFolder(const fs::path& folder)
{
    std::error_code error;
    return fs::directory_iterator(folder, error) == fs::directory_iterator() && !error;
}

}  // namespace

std::string wrongFolders(const fs::path& source, const fs::path& channel, bool newChannel)
{
    fs::path tree;
    fs::path served;
    std::string failure;
    if (!resolvedPath(source, tree, failure) || !resolvedPath(channel, served, failure))
        return failure;
    if (within(served, tree))
        return "the channel " + channel.string() + (served == tree ? " is" : " lies inside") + " the release tree " +
               source.string() + ": publishing would write md5sums, release and by-hash/ into the tree itself";
    if (within(tree, served))
        return "the release tree " + source.string() + " lies inside the channel " + channel.string() +
               ": the web server would serve it, and a publish removes what the channel does not list";
    const std::vector<std::string> channelFiles = channelFilesIn(tree, {channelManifestName, objectsDirectoryName});
    if (!channelFiles.empty())
        return "the release tree " + source.string() + " holds a channel's files (" + joined(channelFiles) +
               "): did you swap SOURCE and CHANNEL?";
    return wrongChannel(channel, served, newChannel);
}

std::string wrongPromotion(const fs::path& from, const fs::path& to, bool newChannel)
{
    fs::path source;
    fs::path served;
    std::string failure;
    if (!resolvedPath(from, source, failure) || !resolvedPath(to, served, failure))
        return failure;
    if (source == served)
        return from.string() + " and " + to.string() +
               " are the same channel: give the channel to promote from, "
               "then the one to promote into";
    if (within(served, source) || within(source, served))
        return "the channel " + to.string() + (within(served, source) ? " lies inside " : " holds ") + from.string() +
               ": their publishes would write and remove each other's files";
    if (!isChannel(source))
        return from.string() + " is no channel (it has no md5sums, release or update.lock): promote takes the "
                               "channel to promote from first";
    return wrongChannel(to, served, newChannel);
}

std::string notAChannel(const fs::path& channel)
{
    fs::path served;
    std::string failure;
    if (!resolvedPath(channel, served, failure))
        return failure;
    if (isChannel(served))
        return std::string();
    const std::string siblings = channelsIn(served.parent_path());
    return channel.string() + " is no channel (it has no md5sums, release or update.lock)" +
           (siblings.empty() ? std::string() : "; beside it are the channels " + siblings + ": a mistyped name?");
}

namespace {

std::string wrongChannel(const fs::path& channel, const fs::path& served, bool newChannel)
{
    const fs::path outer = enclosingChannel(served);
    if (!outer.empty())
        return "the channel " + channel.string() + " lies inside the channel " + outer.string() +
               ": their publishes would write and remove each other's files; give each channel a folder of its own";
    const std::string byHand = "; if that is meant, give --new-channel";
    struct stat facts {};
    if (::lstat(channel.c_str(), &facts) == 0 && S_ISLNK(facts.st_mode))
        return std::string();  // refused as it is opened: nothing of a channel is reached through a link
    if (::stat(served.c_str(), &facts) != 0) {
        const std::string siblings = channelsIn(served.parent_path());
        if (newChannel || siblings.empty())
            return std::string();
        return "the channel " + channel.string() + " does not exist, and beside it are the channels " + siblings +
               ": a mistyped name? a publish into it would start a new channel" + byHand;
    }
    if (!S_ISDIR(facts.st_mode) || newChannel || isChannel(served) || isEmptyFolder(served))
        return std::string();
    const std::string inside = channelsIn(served);
    return channel.string() + " is not empty and is no channel (it has no md5sums, release or update.lock)" +
           (inside.empty() ? std::string() : "; it holds the channels " + inside + ": give one of them") +
           ". A channel gets a folder of its own, such as <web root>/~qel/ORN/windows/latest; if " + channel.string() +
           " is to become one with what it holds, give --new-channel";
}

}  // namespace
