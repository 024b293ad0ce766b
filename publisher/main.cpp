// orn-publish SOURCE CHANNEL_DIR: publishes a game tree into one channel
// directory of the update server, behind the lock that launchers honour.
#include "publisher/channel.h"
#include "publisher/source_tree.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <string>

namespace {

const char* const usageText =
    "usage: orn-publish [--hold-lock SECONDS] SOURCE CHANNEL_DIR\n"
    "  SOURCE       a folder laid out as the game directory should be (top level and libs/)\n"
    "  CHANNEL_DIR  the web server's folder for one channel, e.g. <web root>/~qel/ORN/windows/latest\n"
    "  --hold-lock  keep the lock up this long before changing files (launchers wait meanwhile)\n";

}  // namespace

int main(int argc, char** argv)
{
    unsigned holdLockSeconds = 0;
    int first = 1;
    if (argc == 5 && std::strcmp(argv[1], "--hold-lock") == 0) {
        char* end = nullptr;
        const unsigned long seconds = std::strtoul(argv[2], &end, 10);
        if (*argv[2] == '\0' || *end != '\0' || seconds > 86400) {
            std::cerr << usageText;
            return 2;
        }
        holdLockSeconds = static_cast<unsigned>(seconds);
        first = 3;
    }
    if (argc - first != 2) {
        std::cerr << usageText;
        return 2;
    }
    const std::string source = argv[first];
    const std::string channel = argv[first + 1];
    const auto start = std::chrono::steady_clock::now();

    const SourceTree tree = readSourceTree(source);
    for (const std::string& warning : tree.warnings)
        std::cerr << "orn-publish: warning: " << warning << std::endl;
    if (!tree.problems.empty()) {
        for (const std::string& problem : tree.problems)
            std::cerr << "orn-publish: " << problem << std::endl;
        std::cerr << "orn-publish: " << source << " refused; nothing in " << channel << " was touched" << std::endl;
        return 2;
    }

    PublishSummary summary;
    std::string failure;
    if (!publishChannel(tree, channel, holdLockSeconds, summary, failure)) {
        std::cerr << "orn-publish: " << failure << std::endl
                  << "orn-publish: the lock stays up, so launchers wait instead of fetching a half-published "
                     "channel; run the same command again to finish the job"
                  << std::endl;
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "Published " << summary.files << " files: " << summary.copied << " copied, " << summary.removed
              << " removed, " << summary.bytesCopied << " bytes copied, " << std::fixed << std::setprecision(2)
              << seconds << " s" << std::endl;
    return 0;
}
