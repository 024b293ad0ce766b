#include "publisher/release/object_check.h"

#include "channel/content_address.h"
#include "publisher/release/channel_objects.h"
#include "publisher/source/one_read.h"

#include <sys/stat.h>

#include <algorithm>

ObjectState checkObject(const ChannelDirectory& channel, const std::string& name, unsigned long long size,
                        HashedFiles& hashed, bool sharedOnly)
{
    const ScopedDescriptor file(channel.openForReading(objectPathOf(name)));
    struct stat facts {};
    if (file.get() < 0 || ::fstat(file.get(), &facts) != 0 || !S_ISREG(facts.st_mode))
        return ObjectState::missing;
    if (size != unknownObjectSize && static_cast<unsigned long long>(facts.st_size) != size)
        return ObjectState::damaged;
    const auto identity = std::make_pair<unsigned long long, unsigned long long>(facts.st_dev, facts.st_ino);
    auto seen = hashed.find(identity);
    if (seen == hashed.end()) {
        if (sharedOnly && facts.st_nlink == 1)
            return ObjectState::whole;
        const FileDigests digests = digestsOfDescriptor(file.get(), true);
        if (!digests.read)
            return ObjectState::damaged;
        seen = hashed.emplace(identity, digests.sha256).first;
    }
    return seen->second == name ? ObjectState::whole : ObjectState::damaged;
}

void hashIfShared(const ChannelDirectory& channel, const std::string& path, HashedFiles& hashed)
{
    const ScopedDescriptor file(channel.openForReading(path));
    struct stat facts {};
    if (file.get() < 0 || ::fstat(file.get(), &facts) != 0 || !S_ISREG(facts.st_mode) || facts.st_nlink == 1)
        return;
    const auto identity = std::make_pair<unsigned long long, unsigned long long>(facts.st_dev, facts.st_ino);
    if (hashed.count(identity) != 0)
        return;
    const FileDigests digests = digestsOfDescriptor(file.get(), true);
    // Unreadable: an empty name matches no object, which is then taken for damaged.
    hashed.emplace(identity, digests.read ? digests.sha256 : std::string());
}

bool releaseObjectsWhole(const ChannelDirectory& channel, const Release& release, HashedFiles& hashed,
                         std::string& failure)
{
    for (const std::string& name : objectsNamed(release)) {
        const auto entry = std::find_if(release.files.begin(), release.files.end(),
                                        [&name](const ReleaseEntry& file) { return file.sha256 == name; });
        const ObjectState state =
            checkObject(channel, name, entry == release.files.end() ? unknownObjectSize : entry->size, hashed);
        if (state == ObjectState::whole)
            continue;
        failure = channel.shown(objectPathOf(name)) + ", named by release serial " + std::to_string(release.serial) +
                  (state == ObjectState::missing ? ", is missing" : ", does not hold the bytes it is named by");
        return false;
    }
    return true;
}
