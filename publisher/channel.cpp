#include "publisher/channel.h"

#include "channel/channel_names.h"
#include "channel/manifest_line.h"
#include "channel/manifest_path.h"
#include "index/file_index.h"
#include "publisher/channel_files.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::size_t pieceBytes = 1u << 20;
const unsigned long long progressFrom = 64ULL << 20;  // files this large show their progress

std::string describeErrno()
{
    return std::strerror(errno);
}

bool copyAtomically(const SourceFile& file, const fs::path& target, PublishSummary& summary, std::string& failure)
{
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    const fs::path temporary = target.string() + publisherTemporarySuffix;
    std::ifstream in(file.location, std::ios::binary);
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!in || !out) {
        failure = "cannot copy " + file.path + " to " + temporary.string() + ": " + describeErrno();
        return false;
    }
    const unsigned long long size = fs::file_size(file.location, error);
    const bool showProgress = !error && size >= progressFrom;
    std::cout << "* " << file.path << std::flush;
    std::vector<char> piece(pieceBytes);
    unsigned long long copied = 0;
    int shownTenths = 0;
    while (in && out) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        out.write(piece.data(), in.gcount());
        copied += static_cast<unsigned long long>(in.gcount());
        while (showProgress && shownTenths < 9 && copied * 10 >= size * static_cast<unsigned>(shownTenths + 1))
            std::cout << " " << ++shownTenths * 10 << "%" << std::flush;
    }
    out.close();
    if (in.bad() || out.fail()) {
        std::cout << " failed" << std::endl;
        failure = "cannot copy " + file.path + " to " + temporary.string() + ": " + describeErrno();
        fs::remove(temporary, error);
        return false;
    }
    if (!putInPlace(temporary, target, failure)) {
        std::cout << " failed" << std::endl;
        return false;
    }
    std::cout << " copied" << std::endl;
    ++summary.copied;
    summary.bytesCopied += copied;
    return true;
}

std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

// The paths the channel's current manifest lists.
std::set<std::string> previouslyListed(const fs::path& channel)
{
    std::ifstream in(channel / channelManifestName, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::set<std::string> paths;
    for (const auto& entry : FileIndex(text.str()).remoteDigests)
        paths.insert(entry.first);
    return paths;
}

}  // namespace

bool publishChannel(const SourceTree& tree, const fs::path& channel, unsigned holdLockSeconds,
                    const ReleaseSigning* signing, PublishSummary& summary, std::string& failure)
{
    std::error_code error;
    const fs::path lockFile = channel / channelLockName;
    const std::string startedAt = utcNow();
    if (!writeAtomically(lockFile, startedAt, failure))
        return false;
    std::cout << "Lock raised: update started at " << startedAt << std::endl;
    if (holdLockSeconds > 0) {
        std::cout << "Holding the lock for " << holdLockSeconds << " s" << std::endl;
        std::this_thread::sleep_for(std::chrono::seconds(holdLockSeconds));
    }

    const std::set<std::string> listedBefore = previouslyListed(channel);
    std::string manifest;
    std::vector<ReleaseEntry> signedEntries;
    std::set<std::string> listedNow;
    for (const SourceFile& file : tree.files) {
        const FileDigests digests = digestsOfFile(file.location, signing != nullptr);
        if (!digests.read) {
            failure = "cannot read " + file.location.string() + ": " + describeErrno();
            return false;
        }
        const fs::path target = channel / file.path;
        if (!(fs::is_regular_file(fs::symlink_status(target, error)) && digestsOfFile(target, false).md5 == digests.md5) &&
            !copyAtomically(file, target, summary, failure))
            return false;
        manifest += manifestLine(digests.md5, file.path);
        signedEntries.push_back({digests.sha256, digests.size, file.path});
        listedNow.insert(file.path);
        ++summary.files;
    }

    // Only what the previous manifest listed is ours to remove.
    for (const std::string& path : listedBefore) {
        if (listedNow.count(path) != 0 || !isSafeManifestPath(path) || path == channelLockName ||
            path == channelManifestName || path == channelReleaseName)
            continue;
        const fs::path target = channel / path;
        const fs::file_status status = fs::symlink_status(target, error);
        if (!fs::exists(status) || fs::is_directory(status))
            continue;
        if (!fs::remove(target, error)) {
            failure = "cannot remove " + target.string() + ": " + error.message();
            return false;
        }
        std::cout << "- " << path << " removed" << std::endl;
        ++summary.removed;
    }

    if (!writeAtomically(channel / channelManifestName, manifest, failure))
        return false;
    if (signing != nullptr &&
        !writeAtomically(channel / channelReleaseName, signedReleaseText(*signing, manifest, signedEntries), failure))
        return false;
    if (!fs::remove(lockFile, error)) {
        failure = "cannot remove the lock " + lockFile.string() + ": " +
                  (error ? error.message() : "someone else removed it meanwhile");
        return false;
    }
    return true;
}
