#include "publisher/adoption/adoption_command.h"

#include "channel/channel_names.h"
#include "channel/utc_time.h"
#include "publisher/adoption/adoption_tally.h"
#include "publisher/adoption/log_lines.h"
#include "publisher/adoption/release_manifests.h"
#include "publisher/console/deployer_output.h"
#include "publisher/console/shown_text.h"
#include "publisher/keys/key_exposure.h"
#include "publisher/keys/secret_key_file.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

// False, with the reason, when the log cannot be opened or read to its end.
bool tallyLog(const std::string& path, AdoptionTally& tally, std::string& failure)
{
    LogLines log;
    if (!log.open(path, failure))
        return false;
    std::string_view line;
    for (;;) {
        switch (log.next(line, failure)) {
        case LogLines::Next::line:
            tally.take(line);
            break;
        case LogLines::Next::tooLong:
            tally.skip();
            break;
        case LogLines::Next::end:
            return true;
        case LogLines::Next::failed:
            return false;
        }
    }
}

// Before hours go into reading the first: a mistyped name is told at once.
bool logsOpen(const std::vector<std::string>& logs, std::string& failure)
{
    for (const std::string& path : logs) {
        LogLines probe;
        if (!probe.open(path, failure))
            return false;
    }
    return true;
}

std::string padded(const std::string& text, std::size_t width)
{
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

void printTable(const AdoptionTally& tally, const std::string& name)
{
    reportLine("channel: " + shownText(name));
    std::size_t serialWidth = 6;
    for (const auto& [day, releases] : tally.days())
        for (const auto& release : releases)
            serialWidth = std::max(serialWidth, std::to_string(release.first).size());
    reportLineUnflushed("day (UTC)   " + padded("serial", serialWidth) + "  starts      errors");
    for (const auto& [day, releases] : tally.days()) {
        const std::string date = utcTimeText(day * secondsPerDay).substr(0, 10);
        for (const auto& [serial, counts] : releases)
            reportLineUnflushed(date + "  " + padded(std::to_string(serial), serialWidth) + "  " +
                                padded(std::to_string(counts.starts), 10) + "  " + std::to_string(counts.errors));
    }
    if (tally.days().empty())
        reportLineUnflushed("no starts of a kept release in these logs");
    reportLine("lines: " + std::to_string(tally.lines()) +
               ", skipped (not an access log line): " + std::to_string(tally.skipped()));
}

// The keys to verify the channel's release by, as `status` takes them; false when refused.
bool loadKeys(const SigningRequest& request, const fs::path& channel, const ChannelDirectory& directory,
              std::vector<ReleaseKey>& keys, std::string& failure)
{
    keys = request.trustedKeys;
    if (request.secretKeyFile.empty())
        return true;
    SecretKey key;
    if (!loadSecretKey(request.secretKeyFile, channel, key, failure))
        return false;
    keys.push_back(key.publicPart);
    failure = exposedKeyProblem(directory, request.secretKeyFile, key.publicPart);
    return failure.empty();
}

}  // namespace

int adoptionCommand(const fs::path& channel, const std::vector<std::string>& logs, const SigningRequest& request)
{
    std::string failure;
    std::string name;
    ChannelDirectory directory;
    std::vector<ReleaseKey> keys;
    if (!channelNameOf(channel, name, failure)) {
        diagnosticLine(failure);
        return 2;
    }
    if (!directory.open(channel, failure) || !logsOpen(logs, failure)) {
        diagnosticLine(shownText(failure));
        return 1;
    }
    if (!loadKeys(request, channel, directory, keys, failure)) {
        diagnosticLine(failure);
        return 2;
    }
    std::vector<std::string> notes;
    const std::map<std::string, unsigned long long> manifests = keptReleaseManifests(directory, name, keys, notes);
    for (const std::string& note : notes)
        warningLine(note);
    if (manifests.empty()) {
        diagnosticLine("no kept release of " + directory.shown("") + " is known, so no start can be counted" +
                       (keys.empty() ? " (give --key or --trust to count its current release)" : ""));
        return 1;
    }
    AdoptionTally tally(std::string(channelBasePath) + name + "/", manifests);
    for (const std::string& log : logs) {
        if (!tallyLog(log, tally, failure)) {
            diagnosticLine(shownText(failure) + "; nothing is reported, since the counts would be short");
            return 1;
        }
    }
    printTable(tally, name);
    return 0;
}
