#include "publisher/status/channel_status.h"

#include "publisher/console/deployer_output.h"
#include "publisher/console/shown_text.h"
#include "publisher/keys/key_exposure.h"
#include "publisher/keys/secret_key_file.h"
#include "publisher/status/status_report.h"

#include <ctime>

namespace fs = std::filesystem;

namespace {

int refusedKey(const std::string& failure)
{
    diagnosticLine(failure);
    return 2;
}

int printStatus(const StatusReport& report, const std::string& name, bool haveKeys)
{
    reportLine("channel: " + name);
    if (!report.lock.empty())
        reportLineUnflushed("lock: " + report.lock);
    if (report.current.state == CurrentRelease::State::missing) {
        reportLine("release: none");
        return 1;
    }
    if (report.current.state != CurrentRelease::State::verified) {
        reportLine("key: " + shownText(report.current.keyId));
        reportLine("signature: " +
                   (haveKeys ? "does not verify: " + report.current.problem : "not checked (give --key or --trust)"));
        reportLine("files match: not checked (the release is not verified)");
        return 1;
    }
    flushReport();
    for (const std::string& warning : report.warnings)  // those of the serial record
        warningLine(warning);
    reportLine("serial: " + report.serial);
    reportLine("expires: " + report.expiry);
    reportLine("key: " + shownText(report.current.keyId));
    reportLine("files: " + report.files);
    if (report.chunkIndexes != 0)
        reportLineUnflushed("chunk indexes: " + std::to_string(report.chunkIndexes));
    reportLine("signature: verifies");
    reportLine("files match: " + report.filesMatch);
    reportLine("kept releases: " + report.keptReleases);
    if (!report.rollout.empty())
        reportLine("rollout: " + report.rollout);
    if (!report.rolloutSchedule.empty())
        reportLine("rollout schedule: " + report.rolloutSchedule);
    return report.healthy ? 0 : 1;
}

}  // namespace

int statusCommand(const fs::path& channel, const SigningRequest& request, unsigned warnDays)
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
        diagnosticLine(failure);
        return 1;
    }
    const std::string exposed = request.secretKeyFile.empty()
                                    ? std::string()
                                    : exposedKeyProblem(directory, request.secretKeyFile, key.publicPart);
    if (!exposed.empty())
        return refusedKey(exposed);
    const StatusReport report =
        gatherStatus(directory, channel, name, keys, warnDays, static_cast<long long>(std::time(nullptr)));
    return printStatus(report, name, !keys.empty());
}
