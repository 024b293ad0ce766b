// orn-publish: publishes a game tree into one channel directory of the
// update server, behind the lock that launchers honour, optionally signed.
#include "channel/channel_names.h"
#include "publisher/channel.h"
#include "publisher/exclusive_publish.h"
#include "publisher/signing.h"
#include "publisher/source_tree.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <string>
#include <system_error>

namespace {

const char* const usageText =
    "usage: orn-publish [--hold-lock SECONDS] [--sign SECRET_KEY_FILE [--expires DAYS] [--serial N]]\n"
    "                   SOURCE CHANNEL_DIR\n"
    "       orn-publish --sign SECRET_KEY_FILE [--expires DAYS] [--serial N] --resign CHANNEL_DIR\n"
    "       orn-publish keygen SECRET_KEY_FILE\n"
    "  SOURCE       a folder laid out as the game directory should be (top level and libs/)\n"
    "  CHANNEL_DIR  the web server's folder for one channel, e.g. <web root>/~qel/ORN/windows/latest\n"
    "  --hold-lock  keep the lock up this long before changing files (launchers wait meanwhile)\n"
    "  --sign       also write the channel's signed release with this secret key\n"
    "  --expires    launchers refuse the release this many days after signing\n"
    "  --serial     the release's serial (default: the channel's current one plus 1)\n"
    "  --resign     sign the channel's current files anew (new serial and expiry), copying nothing\n"
    "  keygen       make a key pair: writes the secret key (mode 0600), prints the public key\n"
    "exit status: 0 published; 1 failed after the lock was raised (run the same command again),\n"
    "             or another publish holds the channel; 2 refused, nothing changed\n";

const int refused = 2;

struct Options {
    unsigned holdLockSeconds = 0;
    std::string secretKeyFile;
    unsigned expiresDays = 0;
    unsigned long long serial = 0;
    bool resign = false;
    std::vector<std::string> operands;
};

bool parseNumber(const char* text, unsigned long long largest, unsigned long long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return *text >= '0' && *text <= '9' && *end == '\0' && errno == 0 && value <= largest;
}

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        unsigned long long value = 0;
        if (option == "--resign") {
            options.resign = true;
        } else if (option == "--hold-lock" || option == "--sign" || option == "--expires" || option == "--serial") {
            if (++i == argc)
                return false;
            if (option == "--sign")
                options.secretKeyFile = argv[i];
            else if (option == "--hold-lock" && parseNumber(argv[i], 86400, value))
                options.holdLockSeconds = static_cast<unsigned>(value);
            else if (option == "--expires" && parseNumber(argv[i], 36500, value) && value > 0)
                options.expiresDays = static_cast<unsigned>(value);
            else if (option == "--serial" && parseNumber(argv[i], 1ULL << 62, value) && value > 0)
                options.serial = value;
            else if (option != "--sign")
                return false;
        } else if (option.compare(0, 2, "--") == 0) {
            return false;
        } else {
            options.operands.push_back(option);
        }
    }
    const bool signing = !options.secretKeyFile.empty();
    if ((options.expiresDays != 0 || options.serial != 0) && !signing)
        return false;
    if (options.resign)
        return signing && options.holdLockSeconds == 0 && options.operands.size() == 1;
    return options.operands.size() == 2;
}

int keygen(const std::string& file)
{
    std::string publicKey;
    std::string failure;
    if (!makeKeyPair(file, publicKey, failure)) {
        std::cerr << "orn-publish: " << failure << std::endl;
        return refused;
    }
    std::cerr << "orn-publish: secret key written to " << file
              << "; keep it off the web server. The public key, for LAUNCHER_RELEASE_KEYS:" << std::endl;
    std::cout << publicKey << std::endl;
    return 0;
}

// Loads the key and settles the serial under the channel's exclusive lock; false refuses the run.
bool prepareSigning(const Options& options, const std::string& channel, ReleaseSigning& signing,
                    std::string& failure)
{
    unsigned long long current = 0;
    if (!loadSecretKey(options.secretKeyFile, signing.key, failure) ||
        !channelNameOf(channel, signing.channelName, failure) || !currentSerial(channel, current, failure))
        return false;
    signing.serial = options.serial != 0 ? options.serial : current + 1;
    if (signing.serial <= current) {
        failure = "serial " + std::to_string(signing.serial) + " is not greater than the channel's current " +
                  std::to_string(current) + ": launchers that saw it would refuse the release";
        return false;
    }
    signing.expires = options.expiresDays != 0;
    signing.expiresAt = static_cast<long long>(std::time(nullptr)) + 86400LL * options.expiresDays;
    return true;
}

int refuse(const std::string& reason, const std::string& channel)
{
    std::cerr << "orn-publish: " << reason << std::endl
              << "orn-publish: nothing in " << channel << " was changed and no lock was raised" << std::endl;
    return refused;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "keygen") == 0)
        return keygen(argv[2]);
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::cerr << usageText;
        return refused;
    }
    const std::string channel = options.operands.back();
    const auto start = std::chrono::steady_clock::now();

    SourceTree tree;
    if (!options.resign) {
        const std::string& source = options.operands.front();
        tree = readSourceTree(source);
        for (const std::string& warning : tree.warnings)
            std::cerr << "orn-publish: warning: " << warning << std::endl;
        if (!tree.problems.empty()) {
            for (const std::string& problem : tree.problems)
                std::cerr << "orn-publish: " << problem << std::endl;
            std::cerr << "orn-publish: " << source << " refused; nothing in " << channel << " was touched"
                      << std::endl;
            return refused;
        }
    }

    std::string failure;
    if (!options.resign && !makeChannelDirectory(channel, failure))
        return refuse(failure, channel);
    ExclusivePublish exclusive;
    bool heldByAnother = false;
    if (!exclusive.acquire(channel, heldByAnother, failure)) {
        if (!heldByAnother)
            return refuse(failure, channel);
        std::cerr << "orn-publish: " << failure << "; nothing was touched: try again when it has finished"
                  << std::endl;
        return 1;
    }
    const std::vector<std::string> problems = channelProblems(channel);
    for (const std::string& problem : problems)
        std::cerr << "orn-publish: " << problem << std::endl;
    if (!problems.empty())
        return refuse(channel + " refused", channel);
    ReleaseSigning signing;
    const bool signs = !options.secretKeyFile.empty();
    if (signs && !prepareSigning(options, channel, signing, failure))
        return refuse(failure, channel);
    // Its release would no longer match: every launcher that checks it would refuse the channel.
    std::error_code error;
    if (!signs && std::filesystem::exists(std::filesystem::path(channel) / channelReleaseName, error))
        return refuse("the channel is signed (it has a release): publish with --sign, or remove its release to "
                      "stop signing it",
                      channel);

    if (options.resign) {
        if (!resignChannel(channel, signing, failure))
            return refuse(failure, channel);
        std::cout << "Signed " << channel << " anew: serial " << signing.serial << std::endl;
        return 0;
    }
    if (!raiseLock(channel, failure))
        return refuse(failure, channel);
    PublishSummary summary;
    std::vector<std::string> warnings;
    const bool published =
        publishChannel(tree, channel, options.holdLockSeconds, signs ? &signing : nullptr, summary, warnings, failure);
    for (const std::string& warning : warnings)
        std::cerr << "orn-publish: warning: " << warning << std::endl;
    if (!published) {
        std::cerr << "orn-publish: " << failure << std::endl
                  << "orn-publish: the lock stays up, so launchers wait instead of fetching a half-published "
                     "channel; run the same command again to finish the job"
                  << std::endl;
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "Published " << summary.files << " files: " << summary.copied << " copied, " << summary.removed
              << " removed, " << summary.bytesCopied << " bytes copied, " << std::fixed << std::setprecision(2)
              << seconds << " s";
    if (signs)
        std::cout << "; release serial " << signing.serial << " signed with key " << signing.key.publicPart.id;
    std::cout << std::endl;
    return 0;
}
