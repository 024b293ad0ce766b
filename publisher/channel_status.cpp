#include "publisher/channel_status.h"

#include "channel/channel_names.h"
#include "channel/chunk_index.h"
#include "channel/content_address.h"
#include "publisher/secret_key_file.h"
#include "publisher/serial_record.h"
#include "publisher/shown_text.h"

#include <algorithm>
#include <ctime>
#include <iostream>

namespace fs = std::filesystem;

namespace {

const long long secondsPerDay = 86400;

std::string expiryText(const Release& release, long long now)
{
    if (!release.expires)
        return "never";
    const long long left = release.expiresAt - now;
    return utcTimeText(release.expiresAt) +
           (left >= 0 ? " (in " + std::to_string(left / secondsPerDay) + " days)"
                      : " (expired " + std::to_string(-left / secondsPerDay) + " days ago)");
}

// The serial, and whether it is below the highest this publisher signed for
// the channel: a valid but older release put back on the server.
std::string serialText(const fs::path& channel, const Release& release, bool& older)
{
    SerialRecord record;
    std::string failure;
    if (!findSerialRecord(channel, record, failure))
        std::cerr << "orn-publish: warning: " << failure << std::endl;
    older = record.found && release.serial < record.serial;
    const bool originKnown = record.found && record.serial == release.serial && !record.origin.empty();
    return std::to_string(release.serial) +
           (older ? ", older than the last one signed here, " + std::to_string(record.serial) +
                        ": an old release put back? publish from a release tree"
                  : "") +
           (originKnown ? " (" + record.origin + ")" : " (where it came from is not recorded here)");
}

}  // namespace

int showChannelStatus(const fs::path& channel, const SigningRequest& request, unsigned warnDays)
{
    std::vector<ReleaseKey> keys = request.trustedKeys;
    std::string failure;
    std::string name;
    if (!request.secretKeyFile.empty()) {
        SecretKey key;
        if (!loadSecretKey(request.secretKeyFile, channel, key, failure)) {
            std::cerr << "orn-publish: " << failure << std::endl;
            return 2;
        }
        keys.push_back(key.publicPart);
    }
    if (!channelNameOf(channel, name, failure)) {
        std::cerr << "orn-publish: " << failure << std::endl;
        return 2;
    }
    ChannelDirectory directory;
    if (!directory.open(channel, failure)) {
        std::cerr << "orn-publish: " << failure << std::endl;
        return 1;
    }
    std::string text;
    std::string body;
    std::string keyId;
    std::string signature;
    Release release;
    bool missing = false;
    if (!directory.readFile(channelReleaseName, channelTextLimitBytes, text, missing, failure) ||
        !splitSignedRelease(text, body, keyId, signature) || !parseReleaseBody(body, release)) {
        std::cout << "channel: " << name << std::endl
                  << "release: " << (missing ? "none" : "cannot be read" + (text.empty() ? ": " + failure : ""))
                  << std::endl;
        return 1;
    }
    const long long now = static_cast<long long>(std::time(nullptr));
    const CurrentRelease current = readCurrentRelease(directory, name, keys);
    const bool verified = current.state == CurrentRelease::State::verified;
    std::string mismatch;
    // Files are hashed only for a release that verifies: a planted one could list a sparse file of terabytes.
    const bool matches = verified && channelMatchesRelease(directory, current.release, mismatch);
    const bool expiresSoon = release.expires && release.expiresAt - now < secondsPerDay * warnDays;
    bool older = false;
    const auto indexes = static_cast<std::size_t>(
        std::count_if(release.files.begin(), release.files.end(),
                      [](const ReleaseEntry& entry) { return hasSuffix(entry.path, chunkIndexEntrySuffix); }));
    std::cout << "channel: " << name << std::endl
              << "serial: " << serialText(channel, release, older) << std::endl
              << "expires: " << expiryText(release, now) << (expiresSoon ? ", within " + std::to_string(warnDays) +
                                                                               " days: sign it anew"
                                                                         : "")
              << std::endl
              << "key: " << shownText(keyId) << std::endl
              << "files: " << release.files.size() - indexes - (isContentAddressed(release) ? 1 : 0) << std::endl
              << (indexes == 0 ? "" : "chunk indexes: " + std::to_string(indexes) + "\n")
              << "signature: "
              << (verified ? "verifies"
                           : keys.empty() ? "not checked (give --key or --trust)"
                                          : "does not verify: " + current.problem)
              << std::endl
              << "files match: "
              << (matches ? "yes" : verified ? "no: " + mismatch : "not checked (the release is not verified)")
              << std::endl;
    return verified && matches && !expiresSoon && !older ? 0 : 1;
}
