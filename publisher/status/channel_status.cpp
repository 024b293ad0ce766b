#include "publisher/status/channel_status.h"

#include "publisher/console/shown_text.h"
#include "publisher/keys/key_exposure.h"
#include "publisher/keys/secret_key_file.h"
#include "publisher/status/status_report.h"

#include <ctime>
#include <iostream>

namespace fs = std::filesystem;

namespace {

int refusedKey(const std::string& failure)
{
    std::cerr << "orn-publish: " << failure << std::endl;
    return 2;
}

int printStatus(const StatusReport& report, const std::string& name, bool haveKeys)
{
    std::cout << "channel: " << name << std::endl << (report.lock.empty() ? "" : "lock: " + report.lock + "\n");
    if (report.current.state == CurrentRelease::State::missing) {
        std::cout << "release: none" << std::endl;
        return 1;
    }
    if (report.current.state != CurrentRelease::State::verified) {
        std::cout << "key: " << shownText(report.current.keyId) << std::endl
                  << "signature: "
                  << (haveKeys ? "does not verify: " + report.current.problem : "not checked (give --key or --trust)")
                  << std::endl
                  << "files match: not checked (the release is not verified)" << std::endl;
        return 1;
    }
    std::cout << std::flush;
    for (const std::string& warning : report.warnings)  // those of the serial record
        std::cerr << "orn-publish: warning: " << warning << std::endl;
    std::cout << "serial: " << report.serial << std::endl
              << "expires: " << report.expiry << std::endl
              << "key: " << shownText(report.current.keyId) << std::endl
              << "files: " << report.files << std::endl
              << (report.chunkIndexes == 0 ? "" : "chunk indexes: " + std::to_string(report.chunkIndexes) + "\n")
              << "signature: verifies" << std::endl
              << "files match: " << report.filesMatch << std::endl
              << "kept releases: " << report.keptReleases << std::endl;
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
        std::cerr << "orn-publish: " << failure << std::endl;
        return 1;
    }
    const std::string exposed =
        request.secretKeyFile.empty() ? std::string() : exposedKeyProblem(directory, request.secretKeyFile, key.publicPart);
    if (!exposed.empty())
        return refusedKey(exposed);
    const StatusReport report =
        gatherStatus(directory, channel, name, keys, warnDays, static_cast<long long>(std::time(nullptr)));
    return printStatus(report, name, !keys.empty());
}
