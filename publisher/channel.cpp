#include "publisher/channel.h"

#include "digest/md5.h"
#include "index/file_index.h"
#include "launcher/manifest_path.h"

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

const char* const lockName = "update.lock";
const char* const manifestName = "md5sums";
const char* const temporarySuffix = ".orn-publish";
const std::size_t pieceBytes = 1u << 20;
const unsigned long long progressFrom = 64ULL << 20;  // files this large show their progress

std::string describeErrno()
{
    return std::strerror(errno);
}

// The digest of a file's content, or "" when it cannot be read whole.
std::string digestOfFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::string();
    Md5 md5;
    std::vector<char> piece(pieceBytes);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        md5.update(piece.data(), static_cast<std::uint32_t>(in.gcount()));
    }
    return in.bad() ? std::string() : md5.finalize().hexDigest();
}

// Renames a finished temporary file over `target`, so that a client never
// fetches a half-written file; removes the temporary file when it cannot.
bool putInPlace(const fs::path& temporary, const fs::path& target, std::string& failure)
{
    std::error_code error;
    fs::rename(temporary, target, error);
    if (error) {
        failure = "cannot put " + target.string() + " in place: " + error.message();
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

bool writeAtomically(const fs::path& target, const std::string& text, std::string& failure)
{
    const fs::path temporary = target.string() + temporarySuffix;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (out.fail()) {
        failure = "cannot write " + temporary.string() + ": " + describeErrno();
        return false;
    }
    return putInPlace(temporary, target, failure);
}

bool copyAtomically(const SourceFile& file, const fs::path& target, PublishSummary& summary, std::string& failure)
{
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    const fs::path temporary = target.string() + temporarySuffix;
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
    std::ifstream in(channel / manifestName, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::set<std::string> paths;
    for (const auto& entry : FileIndex(text.str()).remoteDigests)
        paths.insert(entry.first);
    return paths;
}

}  // namespace

bool publishChannel(const SourceTree& tree, const fs::path& channel, unsigned holdLockSeconds,
                    PublishSummary& summary, std::string& failure)
{
    std::error_code error;
    fs::create_directories(channel, error);
    if (error) {
        failure = "cannot create " + channel.string() + ": " + error.message();
        return false;
    }
    const std::string startedAt = utcNow();
    if (!writeAtomically(channel / lockName, startedAt, failure))
        return false;
    std::cout << "Lock raised: update started at " << startedAt << std::endl;
    if (holdLockSeconds > 0) {
        std::cout << "Holding the lock for " << holdLockSeconds << " s" << std::endl;
        std::this_thread::sleep_for(std::chrono::seconds(holdLockSeconds));
    }

    const std::set<std::string> listedBefore = previouslyListed(channel);
    std::string manifest;
    std::set<std::string> listedNow;
    for (const SourceFile& file : tree.files) {
        const std::string digest = digestOfFile(file.location);
        if (digest.empty()) {
            failure = "cannot read " + file.location.string() + ": " + describeErrno();
            return false;
        }
        const fs::path target = channel / file.path;
        if (!(fs::is_regular_file(fs::symlink_status(target, error)) && digestOfFile(target) == digest) &&
            !copyAtomically(file, target, summary, failure))
            return false;
        manifest += digest + "  " + file.path + "\n";
        listedNow.insert(file.path);
        ++summary.files;
    }

    // Only what the previous manifest listed is ours to remove.
    for (const std::string& path : listedBefore) {
        if (listedNow.count(path) != 0 || !isSafeManifestPath(path) || path == lockName || path == manifestName)
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

    if (!writeAtomically(channel / manifestName, manifest, failure))
        return false;
    if (!fs::remove(channel / lockName, error)) {
        failure = "cannot remove the lock " + (channel / lockName).string() + ": " + error.message();
        return false;
    }
    return true;
}
