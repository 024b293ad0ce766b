#include "publisher/adoption/release_manifests.h"

#include "channel/channel_names.h"
#include "channel/content_address.h"
#include "channel/manifest.h"
#include "channel/release_check.h"
#include "channel/rollout.h"
#include "digest/sha256.h"
#include "publisher/release/current_release.h"
#include "publisher/release/release_retention.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

namespace {

bool beginsBinary(const std::string& bytes)
{
    return bytes.compare(0, 8, "ORNCHUNK") == 0 || bytes.compare(0, 8, "ORNBLOCK") == 0;
}

// The object's bytes, when it is a regular file of at most `limit` bytes
// that holds the SHA-256 it is named by and may be a manifest: a chunk index
// or block sums, megabytes each, is left at its first bytes.
bool readTextObject(const ChannelDirectory& channel, const std::string& name, std::size_t limit, std::string& bytes)
{
    bytes.clear();
    const ScopedDescriptor file = channel.openForReading(objectPathOf(name));
    char piece[65536];
    while (file.get() >= 0 && !beginsBinary(bytes)) {
        const ssize_t count = ::read(file.get(), piece, sizeof piece);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0 || bytes.size() + static_cast<std::size_t>(count) > limit)
            return count == 0 && sha256Hex(bytes) == name;
        bytes.append(piece, static_cast<std::size_t>(count));
    }
    return false;
}

bool isManifestOf(const std::string& bytes, const KeptRelease& release)
{
    const Manifest manifest = parseManifest(bytes);
    if (manifest.refusedFrom != 0 || manifest.entries.empty())
        return false;
    if (release.files.empty())  // a record written before it kept the files
        return true;
    std::set<std::string> listed;
    for (const ManifestEntry& entry : manifest.entries)
        listed.insert(entry.path);
    std::set<std::string> signed_;
    for (const ReleaseEntry& file : release.files)
        signed_.insert(file.path);
    return listed == signed_;
}

// The object of `release` that is its manifest: not one of its game files,
// not a chunk index or block sums.
bool findManifestObject(const ChannelDirectory& channel, const KeptRelease& release, std::string& sha256)
{
    std::set<std::string> gameFiles;
    for (const ReleaseEntry& file : release.files)
        gameFiles.insert(file.sha256);
    std::string bytes;
    for (const auto& [name, size] : release.objects) {
        if (gameFiles.count(name) != 0 || (size != unknownObjectSize && size > channelTextLimitBytes))
            continue;
        if (readTextObject(channel, name, channelTextLimitBytes, bytes) && isManifestOf(bytes, release)) {
            sha256 = name;
            return true;
        }
    }
    return false;
}

// The release a rollout stages, as the verified current one names it: those
// very bytes in by-hash/, signed, staged, of this channel, with that manifest.
bool stagedRelease(const ChannelDirectory& channel, const Release& current, const std::vector<ReleaseKey>& keys,
                   Release& staged)
{
    Rollout rollout;
    std::string text;
    return rolloutOf(current, rollout) && rollout.stagedSize < channelTextLimitBytes &&
           readTextObject(channel, rollout.stagedSha256, static_cast<std::size_t>(rollout.stagedSize), text) &&
           readSignedRelease(text, keys, staged) && staged.staged && staged.channel == current.channel &&
           staged.manifestSha256 == rollout.stagedManifestSha256;
}

// The channel's release, and the one it stages, when it verifies under `keys`.
void addCurrentReleases(const ChannelDirectory& channel, const std::string& channelName,
                        const std::vector<ReleaseKey>& keys, std::map<std::string, unsigned long long>& serials,
                        std::vector<std::string>& notes)
{
    const CurrentRelease current = readCurrentRelease(channel, channelName, keys);
    if (current.state != CurrentRelease::State::verified || !isContentAddressed(current.release)) {
        notes.push_back(current.state == CurrentRelease::State::verified
                            ? "the channel's release keeps no objects in by-hash/: its starts are not told apart"
                            : "the channel's release is not counted: " +
                                  (current.problem.empty() ? std::string("there is none") : current.problem));
        return;
    }
    serials[current.release.manifestSha256] = current.release.serial;
    Release staged;
    if (stagedRelease(channel, current.release, keys, staged))
        serials.emplace(staged.manifestSha256, staged.serial);
    else if (Rollout rollout; rolloutOf(current.release, rollout))
        notes.push_back("the release that serial " + std::to_string(current.release.serial) +
                        " stages is not whole in by-hash/: its starts are not counted");
}

}  // namespace

std::map<std::string, unsigned long long> keptReleaseManifests(const ChannelDirectory& channel,
                                                               const std::string& channelName,
                                                               const std::vector<ReleaseKey>& keys,
                                                               std::vector<std::string>& notes)
{
    std::map<std::string, unsigned long long> serials;
    if (!keys.empty())
        addCurrentReleases(channel, channelName, keys, serials, notes);
    std::set<unsigned long long> known;
    for (const auto& counted : serials)
        known.insert(counted.second);
    std::vector<KeptRelease> releases;
    bool found = false;
    std::string failure;
    if (!readKeptReleases(channel, releases, found, failure))
        notes.push_back(failure);
    else if (!found)
        notes.push_back("no record of the releases kept in " + channel.shown("") +
                        " here (each publish records them in the state of the account that ran it)");
    std::string sha256;
    for (const KeptRelease& release : releases) {
        if (known.count(release.serial) != 0)
            continue;
        if (!findManifestObject(channel, release, sha256))
            notes.push_back("release serial " + std::to_string(release.serial) +
                            ": its manifest is not whole in by-hash/; its starts are not counted");
        // The same files signed again (a rollout completed, say): the starts are the newest serial's.
        else if (const auto [named, added] = serials.emplace(sha256, release.serial);
                 !added && known.count(named->second) == 0)
            named->second = std::max(named->second, release.serial);
    }
    return serials;
}
