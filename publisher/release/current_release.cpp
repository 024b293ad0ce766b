#include "publisher/release/current_release.h"

#include "channel/channel_names.h"
#include "channel/content_address.h"
#include "channel/manifest.h"
#include "channel/manifest_path.h"
#include "channel/rollout.h"
#include "digest/sha256.h"
#include "publisher/console/shown_text.h"
#include "publisher/folder/channel_files.h"
#include "publisher/release/chunk_index_files.h"
#include "publisher/source/one_read.h"

#include <sys/stat.h>

#include <map>
#include <set>
#include <utility>

CurrentRelease readCurrentRelease(const ChannelDirectory& channel, const std::string& channelName,
                                  const std::vector<ReleaseKey>& keys)
{
    CurrentRelease current;
    std::string text;
    bool missing = false;
    if (!readWholeFile(channel, channelReleaseName, channelTextLimitBytes, text, missing, current.problem)) {
        current.state = missing ? CurrentRelease::State::missing : CurrentRelease::State::unverified;
        return current;
    }
    current.state = CurrentRelease::State::unverified;
    std::string body;
    std::string signature;
    if (!splitSignedRelease(text, body, current.keyId, signature)) {
        current.problem = "it does not end with a signature line";
        return current;
    }
    if (!verifySignedRelease(text, keys, body)) {
        current.problem = "its signature (key " + shownText(current.keyId) + ") does not verify under the keys given";
        return current;
    }
    if (!parseReleaseBody(body, current.release)) {
        current.problem = "it is signed but cannot be read";
        return current;
    }
    if (current.release.channel != channelName) {
        current.problem = "it was signed for the channel \"" + shownText(current.release.channel) + "\"";
        return current;
    }
    current.state = CurrentRelease::State::verified;
    return current;
}

namespace {

// What a check found a file to be: the SHA-256 that each file, by its
// device and inode, was seen to hold.
using CheckedFiles = std::map<std::pair<unsigned long long, unsigned long long>, std::string>;

// Whether the regular file at `path` has the entry's size, SHA-256 and, when
// given, MD5; the size is compared first: a planted sparse file of terabytes
// would be hashed for hours. A file already seen to hold that SHA-256 under
// another name (an object's hard link) is not hashed again.
bool fileMatches(const ChannelDirectory& channel, const std::string& path, const ReleaseEntry& entry,
                 const std::string* md5, CheckedFiles& checked, std::string& mismatch)
{
    const ScopedDescriptor file(channel.openForReading(path));
    struct stat facts {};
    const bool opened = file.get() >= 0 && ::fstat(file.get(), &facts) == 0;
    const bool sized = opened && static_cast<unsigned long long>(facts.st_size) == entry.size;
    const auto identity = std::make_pair<unsigned long long, unsigned long long>(facts.st_dev, facts.st_ino);
    const auto seen = checked.find(identity);
    if (sized && md5 == nullptr && seen != checked.end() && seen->second == entry.sha256)
        return true;
    const FileDigests digests = sized ? digestsOfDescriptor(file.get(), true) : FileDigests();
    if (digests.read && digests.size == entry.size && digests.sha256 == entry.sha256 &&
        (md5 == nullptr || digests.md5 == *md5)) {
        checked[identity] = entry.sha256;
        return true;
    }
    mismatch = channel.shown(path) +
               (opened && (!sized || digests.read) ? ": not the file the release signed" : ": cannot be read");
    return false;
}

}  // namespace

bool channelMatchesRelease(const ChannelDirectory& channel, const Release& release, std::string& mismatch)
{
    std::string manifest;
    bool missing = false;
    if (!readWholeFile(channel, channelManifestName, channelTextLimitBytes, manifest, missing, mismatch))
        return false;
    if (sha256Hex(manifest) != release.manifestSha256) {
        mismatch = channel.shown(channelManifestName) + " is not the one the release signed";
        return false;
    }
    const Manifest listed = parseManifest(manifest);
    std::set<std::string> listedPaths;
    for (const auto& [path, md5] : listed.digests)
        listedPaths.insert(path);
    const bool addressed = isContentAddressed(release);
    std::size_t files = 0;
    const auto isObjectEntry = [&](const ReleaseEntry& entry) {
        return isDeltaEntry(entry, listedPaths) || (addressed && isContentAddressMarker(entry, release)) ||
               isRolloutEntry(entry);
    };
    for (const ReleaseEntry& entry : release.files)
        files += isObjectEntry(entry) ? 0 : 1;
    if (files != listed.digests.size()) {
        mismatch = "the release and " + std::string(channelManifestName) + " do not list the same files";
        return false;
    }
    CheckedFiles checked;
    for (const ReleaseEntry& entry : release.files) {
        // A chunk index, block sums, md5sums' object and a staged release's text are checked
        // where they are kept, under the SHA-256 that the parser took as 64 hex digits.
        if (isObjectEntry(entry)) {
            if (!fileMatches(channel, objectPathOf(entry.sha256), entry, nullptr, checked, mismatch))
                return false;
            continue;
        }
        const auto listedDigest = listed.digests.find(entry.path);
        if (!isSafeManifestPath(entry.path) || listedDigest == listed.digests.end()) {
            mismatch = "the release lists " + shownText(entry.path) + ", which " + channelManifestName + " does not";
            return false;
        }
        if (!fileMatches(channel, entry.path, entry, &listedDigest->second, checked, mismatch) ||
            (addressed && !fileMatches(channel, objectPathOf(entry.sha256), entry, nullptr, checked, mismatch)))
            return false;
    }
    return true;
}
