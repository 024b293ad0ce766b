#include "publisher/release/channel_objects.h"

#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "digest/sha256.h"
#include "publisher/folder/channel_files.h"
#include "publisher/folder/hard_links.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

bool isFile(const struct stat& facts, const FileDigests& digests)
{
    return digests.inode != 0 && facts.st_dev == digests.device && facts.st_ino == digests.inode;
}

// Whether the regular file at `path` has this size and SHA-256; the size
// first: a planted sparse file of terabytes would be hashed for hours.
bool holdsDigest(const ChannelDirectory& channel, const std::string& path, const std::string& sha256,
                 unsigned long long size)
{
    const ScopedDescriptor file(channel.openForReading(path));
    struct stat facts {};
    if (file.get() < 0 || ::fstat(file.get(), &facts) != 0 || static_cast<unsigned long long>(facts.st_size) != size)
        return false;
    const FileDigests digests = digestsOfDescriptor(file.get(), true);
    return digests.read && digests.size == size && digests.sha256 == sha256;
}

// A hard link to the published file, at `temporary`; false, leaving nothing
// there, when the file system refuses or the name no longer leads to the
// file whose bytes were taken.
bool linkPublished(const ChannelDirectory& channel, const std::string& path, const std::string& temporary,
                   const FileDigests& digests)
{
    std::string ignored;
    struct stat facts {};
    if (digests.inode == 0 || !linkInChannel(channel, path, temporary, ignored))
        return false;
    if (channel.statOf(temporary, facts) && S_ISREG(facts.st_mode) && isFile(facts, digests))
        return true;
    channel.removeFile(temporary, ignored);
    return false;
}

// A copy of the published file at `temporary`, hashed as it is written: only its signed bytes pass.
bool copyPublished(const ChannelDirectory& channel, const std::string& path, const std::string& temporary,
                   const FileDigests& digests, std::string& failure)
{
    const ScopedDescriptor in(channel.openForReading(path));
    if (in.get() < 0) {
        failure = "cannot read " + channel.shown(path) + ": " + std::strerror(errno);
        return false;
    }
    ScopedDescriptor out = channel.createFresh(temporary, failure);
    if (out.get() < 0)
        return false;
    const FileDigests copied = copyDescriptor(in.get(), out.get());
    const int cause = errno;
    if (!out.close() || !copied.read) {
        failure = "cannot copy " + channel.shown(path) + " to " + channel.shown(temporary) + ": " +
                  std::strerror(!copied.read ? cause : errno);
        return false;
    }
    if (copied.size != digests.size || copied.sha256 != digests.sha256) {
        failure = channel.shown(path) + " changed after it was published (is something else writing the channel?)";
        return false;
    }
    return true;
}

}  // namespace

bool storeFileObject(const ChannelDirectory& channel, const std::string& path, const FileDigests& digests,
                     std::string& failure)
{
    const std::string object = objectPathOf(digests.sha256);
    struct stat facts {};
    // Never trusted for its name alone: a planted file there would be served as the signed one.
    if (channel.statOf(object, facts) && S_ISREG(facts.st_mode) &&
        (isFile(facts, digests) || holdsDigest(channel, object, digests.sha256, digests.size)))
        return true;
    const std::string temporary = object + publisherTemporarySuffix;
    std::string ignored;
    if (!channel.makeDirectories(objectsDirectoryName, failure))
        return false;
    channel.removeFile(temporary, ignored);  // a killed run's
    if (linkPublished(channel, path, temporary, digests) || copyPublished(channel, path, temporary, digests, failure))
        return putInPlace(channel, temporary, object, failure);
    channel.removeFile(temporary, ignored);
    return false;
}

bool storeBytesObject(const ChannelDirectory& channel, const std::string& bytes, const std::string& sha256,
                      std::string& failure)
{
    const std::string object = objectPathOf(sha256);
    std::string present;
    bool missing = false;
    std::string ignored;
    unsigned long long size = 0;
    // readWholeFile refuses a file with other names: md5sums' object stays a copy of its own.
    if (channel.kindOf(object, &size) == ChannelDirectory::Kind::regular && size == bytes.size() &&
        readWholeFile(channel, object, bytes.size(), present, missing, ignored) && present == bytes)
        return true;
    return channel.makeDirectories(objectsDirectoryName, failure) && writeAtomically(channel, object, bytes, failure);
}

std::set<std::string> objectsNamed(const Release& release)
{
    std::set<std::string> named{release.manifestSha256};
    for (const ReleaseEntry& entry : release.files)
        named.insert(entry.sha256);
    return named;
}

void removeUnkeptObjects(const ChannelDirectory& channel, const std::set<std::string>& kept,
                         std::vector<std::string>& warnings)
{
    std::vector<std::string> names;
    if (channel.kindOf(objectsDirectoryName) != ChannelDirectory::Kind::directory ||
        !channel.list(objectsDirectoryName, names))
        return;
    for (const std::string& name : names) {
        const std::string path = objectPathOf(name);
        std::string failure;
        if (isObjectName(name) && kept.count(name) == 0 && channel.kindOf(path) == ChannelDirectory::Kind::regular &&
            !channel.removeFile(path, failure))
            warnings.push_back(failure + ": an object that no kept release names is left in the channel");
    }
}
