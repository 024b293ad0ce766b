#include "publisher/status/status_report.h"

#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "channel/utc_time.h"
#include "publisher/console/shown_text.h"
#include "publisher/folder/channel_files.h"
#include "publisher/folder/exclusive_publish.h"
#include "publisher/release/chunk_index_files.h"
#include "publisher/release/object_check.h"
#include "publisher/release/release_retention.h"
#include "publisher/state/serial_record.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

const std::size_t lockTextLimit = 256;

std::string expiryText(const Release& release, long long now)
{
    if (!release.expires)
        return "never";
    const long long left = release.expiresAt - now;
    const long long days = daysUntil(release.expiresAt, now);
    return utcTimeText(release.expiresAt) + (left >= 0 ? " (in " + std::to_string(days) + " days)"
                                                       : " (expired " + std::to_string(-days) + " days ago)");
}

// The lock, when it is up: since when, and whether a publish holds the
// channel now or the last one stopped before it finished. Empty when down.
std::string lockText(const ChannelDirectory& directory, const fs::path& channel, bool& publishing)
{
    std::string since;
    bool missing = false;
    std::string failure;
    ExclusivePublish probe;  // released at once: a publish that meets it waits that instant out
    bool heldByAnother = false;
    publishing = !probe.acquire(channel, heldByAnother, failure, false) && heldByAnother;
    if (directory.kindOf(channelLockName) == ChannelDirectory::Kind::missing)
        return publishing ? "down; a publish is running now" : "";
    readWholeFile(directory, channelLockName, lockTextLimit, since, missing, failure);
    while (!since.empty() && (since.back() == '\n' || since.back() == '\r'))
        since.pop_back();
    return "up since " + (since.empty() ? std::string("an unknown time") : shownText(since)) +
           (publishing ? "; a publish is running now"
                       : "; no publish is running: the last one stopped before it finished (launchers wait "
                         "meanwhile): run it again");
}

// The serial, where it came from, and whether it is below the highest this
// publisher signed for the channel: a valid but older release put back on
// the server, or a publish that stopped before its release was written.
std::string serialText(const fs::path& channel, const Release& release, unsigned long long highest, bool lockUp,
                       bool publishing, bool& older, std::vector<std::string>& warnings)
{
    SerialRecord record;
    std::string failure;
    if (!findSerialRecord(channel, record, failure))
        warnings.push_back(failure);
    older = record.found && highest < record.serial;
    // During a rollout the record holds the staged serial, signed with the current one.
    const bool originKnown =
        record.found && (record.serial == release.serial || record.serial == highest) && !record.origin.empty();
    const std::string last = std::to_string(record.serial);
    return std::to_string(release.serial) +
           (!older       ? ""
            : publishing ? "; serial " + last + " is being published now"
            : lockUp     ? "; serial " + last + " was being published when that publish stopped"
                         : ", older than the last one signed here, " + last +
                           ": an old release put back? publish from a release tree") +
           (originKnown ? " (" + record.origin + ")" : " (where it came from is not recorded here)");
}

// Whether every object of every release kept besides the current one is
// whole; the current one's are checked with its files.
std::string keptReleasesText(const ChannelDirectory& directory, const Release& current, bool& whole)
{
    std::vector<KeptRelease> releases;
    bool found = false;
    std::string failure;
    whole = true;
    if (!readKeptReleases(directory, releases, found, failure))
        return "not checked: " + failure;
    if (!found)
        return "not recorded here (each publish records them in the state of the account that ran it)";
    HashedFiles hashed;
    const KeptRelease newest = keptReleaseOf(current);
    for (const KeptRelease& release : releases) {
        for (const auto& [name, size] : release.objects) {
            const ObjectState state =
                newest.objects.count(name) != 0 ? ObjectState::whole : checkObject(directory, name, size, hashed);
            if (state == ObjectState::whole)
                continue;
            whole = false;
            return "no: " + directory.shown(objectPathOf(name)) + ", named by release serial " +
                   std::to_string(release.serial) +
                   (state == ObjectState::missing ? ", is missing" : ", does not hold the bytes it is named by") +
                   "; players whose cache holds that release fail to fetch it";
        }
    }
    return std::to_string(releases.size()) + ", every object whole";
}

// The lines of a release that verified.
void describeRelease(const ChannelDirectory& directory, unsigned warnDays, long long now, StatusReport& report)
{
    const Release& release = report.current.release;
    std::string mismatch;
    const bool matches = channelMatchesRelease(directory, release, mismatch);
    const bool expiresSoon = release.expires && isWithinDays(release.expiresAt, now, warnDays);
    bool older = false;
    bool keptWhole = true;
    report.chunkIndexes = chunkIndexEntries(release);
    const bool lockUp = directory.kindOf(channelLockName) != ChannelDirectory::Kind::missing;
    // The folder as opened, as a publish names its records: not the path as typed.
    report.serial = serialText(directory.path(), release, highestSignedSerial(release, report.staged), lockUp,
                               report.publishing, older, report.warnings);
    report.expiry =
        expiryText(release, now) + (expiresSoon ? ", within " + std::to_string(warnDays) + " days: sign it anew" : "");
    report.files = std::to_string(gameFileEntries(release).size());
    report.filesMatch = matches ? "yes" : "no: " + mismatch;
    report.keptReleases = keptReleasesText(directory, release, keptWhole);
    report.healthy = matches && keptWhole && !expiresSoon && !older && report.lock.empty();
}

// The rollout's lines; a staged release that does not verify, or whose
// objects are not whole, calls for the deployer as the current one's would.
void describeRollout(const ChannelDirectory& directory, long long now, StatusReport& report)
{
    const StagedRelease& staged = report.staged;
    if (staged.state == StagedRelease::State::none)
        return;
    std::string failure;
    HashedFiles hashed;
    if (staged.state != StagedRelease::State::verified ||
        !releaseObjectsWhole(directory, staged.release, hashed, failure)) {
        report.rollout = "on, but its staged release " + (staged.state == StagedRelease::State::verified
                                                              ? "is not whole: " + failure
                                                              : "cannot be trusted: " + staged.problem);
        report.healthy = false;
        return;
    }
    const Rollout& rollout = staged.rollout;
    const unsigned long share = rolloutShareAt(rollout, now);
    report.rollout =
        "staged release serial " + std::to_string(staged.release.serial) + " to " + sharePercentText(share) +
        " of game directories now; " +
        (share == rolloutWholeShare ? "rollout --complete makes it the channel's release"
                                    : "the others get serial " + std::to_string(report.current.release.serial));
    if (rollout.scheduled)
        report.rolloutSchedule = "from " + sharePercentText(rollout.sharePpm) + " on " + utcTimeText(rollout.since) +
                                 ", one step a day for " + std::to_string(rollout.days) + " days, 100% " +
                                 (rolloutCompleteAt(rollout) <= now ? "since " : "on ") +
                                 utcTimeText(rolloutCompleteAt(rollout));
}

}  // namespace

StatusReport gatherStatus(const ChannelDirectory& directory, const fs::path& channel, const std::string& channelName,
                          const std::vector<ReleaseKey>& keys, unsigned warnDays, long long now)
{
    StatusReport report;
    report.lock = lockText(directory, channel, report.publishing);
    // Verified before anything of it is parsed: a planted release could be 64 MiB of entries.
    report.current = readCurrentRelease(directory, channelName, keys);
    if (report.current.state == CurrentRelease::State::verified) {
        report.staged = readStagedRelease(directory, report.current.release, channelName, keys);
        describeRelease(directory, warnDays, now, report);
        describeRollout(directory, now, report);
    }
    return report;
}
