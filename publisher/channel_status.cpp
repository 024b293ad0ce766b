#include "publisher/channel_status.h"

#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "publisher/channel_objects.h"
#include "publisher/exclusive_publish.h"
#include "publisher/key_exposure.h"
#include "publisher/object_check.h"
#include "publisher/release_retention.h"
#include "publisher/secret_key_file.h"
#include "publisher/serial_record.h"
#include "publisher/shown_text.h"

#include <algorithm>
#include <ctime>
#include <iostream>

namespace fs = std::filesystem;

namespace {

const long long secondsPerDay = 86400;
const std::size_t lockTextLimit = 256;

std::string expiryText(const Release& release, long long now)
{
    if (!release.expires)
        return "never";
    const long long left = release.expiresAt - now;
    return utcTimeText(release.expiresAt) +
           (left >= 0 ? " (in " + std::to_string(left / secondsPerDay) + " days)"
                      : " (expired " + std::to_string(-left / secondsPerDay) + " days ago)");
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
    directory.readFile(channelLockName, lockTextLimit, since, missing, failure);
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
std::string serialText(const fs::path& channel, const Release& release, bool lockUp, bool publishing, bool& older)
{
    SerialRecord record;
    std::string failure;
    if (!findSerialRecord(channel, record, failure))
        std::cerr << "orn-publish: warning: " << failure << std::endl;
    older = record.found && release.serial < record.serial;
    const bool originKnown = record.found && record.serial == release.serial && !record.origin.empty();
    const std::string last = std::to_string(record.serial);
    return std::to_string(release.serial) +
           (!older   ? ""
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

int refusedKey(const std::string& failure)
{
    std::cerr << "orn-publish: " << failure << std::endl;
    return 2;
}

}  // namespace

int showChannelStatus(const fs::path& channel, const SigningRequest& request, unsigned warnDays)
{
    std::vector<ReleaseKey> keys = request.trustedKeys;
    std::string failure;
    std::string name;
    SecretKey key;
    if (!request.secretKeyFile.empty()) {
        if (!loadSecretKey(request.secretKeyFile, channel, key, failure))
            return refusedKey(failure);
        keys.push_back(key.publicPart);
    }
    if (!channelNameOf(channel, name, failure))
        return refusedKey(failure);
    ChannelDirectory directory;
    if (!directory.open(channel, failure)) {
        std::cerr << "orn-publish: " << failure << std::endl;
        return 1;
    }
    const std::string exposed =
        request.secretKeyFile.empty() ? std::string() : exposedKeyProblem(directory, request.secretKeyFile, key.publicPart);
    if (!exposed.empty())
        return refusedKey(exposed);
    bool publishing = false;
    const std::string lock = lockText(directory, channel, publishing);
    std::cout << "channel: " << name << std::endl << (lock.empty() ? "" : "lock: " + lock + "\n");
    // Verified before anything of it is parsed: a planted release could be 64 MiB of entries.
    const CurrentRelease current = readCurrentRelease(directory, name, keys);
    if (current.state == CurrentRelease::State::missing) {
        std::cout << "release: none" << std::endl;
        return 1;
    }
    if (current.state != CurrentRelease::State::verified) {
        std::cout << "key: " << shownText(current.keyId) << std::endl
                  << "signature: "
                  << (keys.empty() ? "not checked (give --key or --trust)" : "does not verify: " + current.problem)
                  << std::endl
                  << "files match: not checked (the release is not verified)" << std::endl;
        return 1;
    }
    const Release& release = current.release;
    const long long now = static_cast<long long>(std::time(nullptr));
    std::string mismatch;
    const bool matches = channelMatchesRelease(directory, release, mismatch);
    const bool expiresSoon = release.expires && release.expiresAt - now < secondsPerDay * warnDays;
    bool older = false;
    bool keptWhole = true;
    const auto indexes = static_cast<std::size_t>(
        std::count_if(release.files.begin(), release.files.end(),
                      [](const ReleaseEntry& entry) { return hasSuffix(entry.path, chunkIndexEntrySuffix); }));
    const bool lockUp = directory.kindOf(channelLockName) != ChannelDirectory::Kind::missing;
    std::cout << "serial: " << serialText(channel, release, lockUp, publishing, older) << std::endl
              << "expires: " << expiryText(release, now)
              << (expiresSoon ? ", within " + std::to_string(warnDays) + " days: sign it anew" : "") << std::endl
              << "key: " << shownText(current.keyId) << std::endl
              << "files: " << release.files.size() - indexes - (isContentAddressed(release) ? 1 : 0) << std::endl
              << (indexes == 0 ? "" : "chunk indexes: " + std::to_string(indexes) + "\n")
              << "signature: verifies" << std::endl
              << "files match: " << (matches ? "yes" : "no: " + mismatch) << std::endl
              << "kept releases: " << keptReleasesText(directory, release, keptWhole) << std::endl;
    return matches && keptWhole && !expiresSoon && !older && lock.empty() ? 0 : 1;
}
