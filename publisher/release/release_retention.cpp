#include "publisher/release/release_retention.h"

#include "channel/content_address.h"
#include "channel/rollout.h"
#include "publisher/release/channel_objects.h"
#include "publisher/release/chunk_index_files.h"
#include "publisher/state/kept_releases_record.h"
#include "publisher/state/state_directory.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <set>
#include <sstream>
#include <utility>

namespace {

std::set<std::string> namesOf(const KeptRelease& release)
{
    std::set<std::string> names;
    for (const auto& object : release.objects)
        names.insert(object.first);
    return names;
}

// What a write onto a published file in place did through a hard link: the
// object no longer holds what it is named by, and a cache would serve it.
void removeDamagedObjects(const ChannelDirectory& channel, const std::vector<KeptRelease>& releases,
                          const KeptRelease& written, HashedFiles& hashed, std::vector<std::string>& warnings)
{
    for (const KeptRelease& release : releases) {
        for (const auto& object : release.objects) {
            std::string failure;
            if (written.objects.count(object.first) != 0 ||
                checkObject(channel, object.first, object.second, hashed, true) != ObjectState::damaged ||
                !channel.removeFile(objectPathOf(object.first), failure))
                continue;
            warnings.push_back(channel.shown(objectPathOf(object.first)) + ", an object of release serial " +
                               std::to_string(release.serial) +
                               ", no longer held its bytes: a published file that is a hard link to it was written "
                               "over in place; it is removed, and players whose cache still holds that release "
                               "fail to fetch it until they get this one. Change the release tree, never the "
                               "channel's files");
        }
    }
}

}  // namespace

KeptRelease keptReleaseOf(const Release& release)
{
    KeptRelease kept{release.serial, {}, gameFileEntries(release)};
    for (const std::string& name : objectsNamed(release))
        kept.objects[name] = unknownObjectSize;
    for (const ReleaseEntry& entry : release.files)
        kept.objects[entry.sha256] = entry.size;
    // A rollout's staged text is kept with the staged release: the current
    // release stays the same kept release whatever rollout it names.
    for (const ReleaseEntry& entry : release.files)
        if (isRolloutEntry(entry))
            kept.objects.erase(entry.sha256);
    return kept;
}

bool readKeptReleases(const ChannelDirectory& channel, std::vector<KeptRelease>& releases, bool& found,
                      std::string& failure)
{
    std::string channelPath;
    return channelStatePath(channel.path(), channelPath, failure) &&
           readKeptReleases(channelPath, channel.shown(""), releases, found, failure);
}

namespace {

// Signed elsewhere, or before this record was kept: still the release that
// players' caches hold. It goes where its serial puts it among the recorded
// ones: an old release put back is no reason to drop a newer one.
void placeByItsSerial(KeptRelease before, std::vector<KeptRelease>& releases)
{
    const auto same = std::find_if(releases.begin(), releases.end(), [&before](const KeptRelease& release) {
        return namesOf(release) == namesOf(before);
    });
    const bool recorded = same != releases.end();
    // Recorded by an earlier version, without its files: a rollback can reach it from now on.
    if (recorded && same->files.empty())
        same->files = before.files;
    const auto later = std::find_if(releases.begin(), releases.end(),
                                    [&before](const KeptRelease& release) { return release.serial > before.serial; });
    if (!recorded)
        releases.insert(later, std::move(before));
}

}  // namespace

namespace {

bool sameFiles(const std::vector<ReleaseEntry>& one, const std::vector<ReleaseEntry>& other)
{
    return !one.empty() && std::equal(one.begin(), one.end(), other.begin(), other.end(),
                                      [](const ReleaseEntry& a, const ReleaseEntry& b) {
                                          return a.sha256 == b.sha256 && a.size == b.size && a.path == b.path;
                                      });
}

// The staged release with the text that `outer` names: each re-sign of a
// rollout signs it anew, and a cache may still hold an outer release naming
// an earlier text, so the earlier signings of the same files fold into it.
KeptRelease keptStagedRelease(const Release& staged, const Release& outer, std::vector<KeptRelease>& releases)
{
    KeptRelease latest = keptReleaseOf(staged);
    Rollout rollout;
    if (rolloutOf(outer, rollout))
        latest.objects[rollout.stagedSha256] = rollout.stagedSize;
    for (auto release = releases.begin(); release != releases.end();) {
        if (!sameFiles(release->files, latest.files) && namesOf(*release) != namesOf(latest)) {
            ++release;
            continue;
        }
        latest.objects.insert(release->objects.begin(), release->objects.end());
        release = releases.erase(release);
    }
    return latest;
}

// The release just written goes last, always kept: one signed anew with the
// same files (a new expiry, say) takes its earlier place. With a staged one
// the current release, placed by its serial, is kept too.
KeptRelease putLatest(const Release& written, const Release* staged, unsigned& keep, std::vector<KeptRelease>& releases)
{
    KeptRelease latest;
    if (staged != nullptr) {
        keep = std::max(keep, 2u);
        latest = keptStagedRelease(*staged, written, releases);
    } else {
        latest = keptReleaseOf(written);
        releases.erase(
            std::remove_if(releases.begin(), releases.end(),
                           [&latest](const KeptRelease& release) { return namesOf(release) == namesOf(latest); }),
            releases.end());
    }
    if (releases.size() + 1 > keep)
        releases.erase(releases.begin(), releases.end() - static_cast<std::ptrdiff_t>(keep - 1));
    releases.push_back(latest);
    return latest;
}

}  // namespace

void keepLastReleases(const ChannelDirectory& channel, const CurrentRelease& previous, const Release& written,
                      unsigned keep, HashedFiles& hashed, std::vector<std::string>& warnings, const Release* staged)
{
    const std::string keptAnyway = "; the objects of older releases stay in the channel this time";
    std::vector<KeptRelease> releases;
    std::string failure;
    bool found = false;
    const bool known = readKeptReleases(channel, releases, found, failure);
    if (!known)
        warnings.push_back(failure + keptAnyway);
    if (previous.state == CurrentRelease::State::verified)
        placeByItsSerial(keptReleaseOf(previous.release), releases);
    // Otherwise in the order they were published, whatever their serials (a
    // lost state folder, a serial given by hand).
    const KeptRelease latest = putLatest(written, staged, keep, releases);
    std::string channelPath;
    if (!channelStatePath(channel.path(), channelPath, failure) || !writeKeptReleases(channelPath, releases, failure))
        warnings.push_back(failure);
    if (!known)
        return;
    removeDamagedObjects(channel, releases, latest, hashed, warnings);
    if (releases.size() < keep)
        return;
    std::set<std::string> kept;
    for (const KeptRelease& release : releases)
        for (const auto& object : release.objects)
            kept.insert(object.first);
    removeUnkeptObjects(channel, kept, warnings);
}
