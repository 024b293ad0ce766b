#include "publisher/release_retention.h"

#include "publisher/channel_objects.h"
#include "publisher/serial_record.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <set>
#include <sstream>
#include <utility>

namespace {

const char* const recordHeader = "orn-publish kept releases 1";
const char* const recordSuffix = ".releases";
const std::size_t recordLimitBytes = 256u << 20;

struct ReleaseObjects {
    unsigned long long serial = 0;
    std::set<std::string> objects;
};

// Oldest first; the channel line catches a record copied from another channel.
std::string recordText(const std::vector<ReleaseObjects>& releases, const std::string& channelPath)
{
    std::string text = std::string(recordHeader) + "\nchannel " + channelPath + "\n";
    for (const ReleaseObjects& release : releases) {
        text += "release " + std::to_string(release.serial) + "\n";
        for (const std::string& object : release.objects)
            text += object + "\n";
    }
    return text;
}

bool parseRecord(const std::string& text, const std::string& channelPath, std::vector<ReleaseObjects>& releases)
{
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != recordHeader || !std::getline(lines, line) ||
        line != "channel " + channelPath)
        return false;
    while (std::getline(lines, line)) {
        if (line.compare(0, 8, "release ") == 0) {
            releases.emplace_back();
            releases.back().serial = std::strtoull(line.c_str() + 8, nullptr, 10);
        } else if (isObjectName(line) && !releases.empty()) {
            releases.back().objects.insert(line);
        } else {
            return false;
        }
    }
    return text == recordText(releases, channelPath);
}

}  // namespace

void keepLastReleases(const ChannelDirectory& channel, const CurrentRelease& previous, const Release& written,
                      unsigned keep, std::vector<std::string>& warnings)
{
    std::string channelPath;
    std::string file;
    std::string text;
    std::string failure;
    bool found = false;
    const std::string keptAnyway = "; the objects of older releases stay in the channel this time";
    if (!channelRealPath(channel.path(), channelPath, failure) ||
        !readStateFile(channelPath, recordSuffix, recordLimitBytes, text, found, file, failure)) {
        warnings.push_back(failure + keptAnyway);
        return;
    }
    std::vector<ReleaseObjects> releases;
    const bool known = !found || parseRecord(text, channelPath, releases);
    if (!known) {
        warnings.push_back("the record of the releases kept in " + channel.shown("") + ", " + file +
                           ", cannot be read" + keptAnyway);
        releases.clear();
    }
    // Signed elsewhere, or before this record was kept: still the release that players' caches hold.
    if (previous.state == CurrentRelease::State::verified) {
        ReleaseObjects before{previous.release.serial, objectsNamed(previous.release)};
        bool recorded = false;
        for (const ReleaseObjects& release : releases)
            recorded = recorded || release.objects == before.objects;
        if (!recorded)
            releases.push_back(before);
    }
    // A release signed again with the same files (a new expiry, say) names
    // nothing new: it takes its earlier place rather than pushing another out.
    ReleaseObjects latest{written.serial, objectsNamed(written)};
    const auto same = [&latest](const ReleaseObjects& release) { return release.objects == latest.objects; };
    releases.erase(std::remove_if(releases.begin(), releases.end(), same), releases.end());
    releases.push_back(std::move(latest));
    // The newest kept: an old release put back in the channel is no reason to drop a newer one.
    std::stable_sort(releases.begin(), releases.end(),
                     [](const ReleaseObjects& a, const ReleaseObjects& b) { return a.serial < b.serial; });
    if (releases.size() > keep)
        releases.erase(releases.begin(), releases.end() - static_cast<std::ptrdiff_t>(keep));
    if (!writeStateFile(channelPath, recordSuffix, recordText(releases, channelPath), file, failure))
        warnings.push_back(failure);
    if (!known)
        return;
    std::set<std::string> kept;
    for (const ReleaseObjects& release : releases)
        kept.insert(release.objects.begin(), release.objects.end());
    removeUnkeptObjects(channel, kept, warnings);
}
