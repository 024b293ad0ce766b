#include "publisher/channel.h"

#include "channel/channel_names.h"
#include "channel/manifest_line.h"
#include "channel/manifest_path.h"
#include "channel/sha256.h"
#include "digest/md5.h"
#include "index/file_index.h"
#include "publisher/channel_files.h"
#include "publisher/shown_text.h"
#include "publisher/written_journal.h"

#include <sys/stat.h>
#include <unistd.h>

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

// What tells a source file's version apart, read before and after it is copied.
struct FileVersion {
    bool known = false;
    unsigned long long size = 0;
    long long modifiedSeconds = 0;
    long long modifiedNanoseconds = 0;

    bool operator==(const FileVersion& other) const
    {
        return known && other.known && size == other.size && modifiedSeconds == other.modifiedSeconds &&
               modifiedNanoseconds == other.modifiedNanoseconds;
    }
};

FileVersion versionOf(const fs::path& file)
{
    struct stat facts {};
    FileVersion version;
    if (::stat(file.c_str(), &facts) != 0)
        return version;
    version.known = true;
    version.size = static_cast<unsigned long long>(facts.st_size);
    version.modifiedSeconds = facts.st_mtim.tv_sec;
    version.modifiedNanoseconds = facts.st_mtim.tv_nsec;
    return version;
}

// Copies the source through a temporary file, hashing the very bytes it
// writes: the manifest can only state what was copied. A source that
// changes meanwhile (a build still writing it) fails the run.
bool copyAtomically(const ChannelDirectory& channel, const SourceFile& file, bool withSha256, FileDigests& digests,
                    PublishSummary& summary, std::string& failure)
{
    const std::string::size_type slash = file.path.rfind('/');
    if (slash != std::string::npos && !channel.makeDirectories(file.path.substr(0, slash), failure))
        return false;
    const std::string temporary = file.path + publisherTemporarySuffix;
    const FileVersion before = versionOf(file.location);
    std::ifstream in(file.location, std::ios::binary);
    if (!in) {
        failure = "cannot copy " + file.path + ": cannot read " + file.location.string() + ": " + describeErrno();
        return false;
    }
    const int out = channel.createFresh(temporary, failure);
    if (out < 0)
        return false;
    const bool showProgress = before.size >= progressFrom;
    std::cout << "* " << file.path << std::flush;
    Md5 md5;
    Sha256 sha256;
    std::vector<char> piece(pieceBytes);
    unsigned long long copied = 0;
    int shownTenths = 0;
    bool written = true;
    while (in && written) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto count = static_cast<std::size_t>(in.gcount());
        written = writeAll(out, piece.data(), count);
        md5.update(piece.data(), static_cast<std::uint32_t>(count));
        if (withSha256)
            sha256.update(piece.data(), count);
        copied += count;
        while (showProgress && shownTenths < 9 && copied * 10 >= before.size * static_cast<unsigned>(shownTenths + 1))
            std::cout << " " << ++shownTenths * 10 << "%" << std::flush;
    }
    const int cause = errno;
    written = ::close(out) == 0 && written;
    std::string ignored;
    if (in.bad() || !written) {
        std::cout << " failed" << std::endl;
        failure = "cannot copy " + file.path + " to " + channel.shown(temporary) + ": " +
                  std::strerror(written ? errno : cause);
        channel.removeFile(temporary, ignored);
        return false;
    }
    if (!(versionOf(file.location) == before) || copied != before.size) {
        std::cout << " failed" << std::endl;
        failure = file.location.string() + " changed while it was copied (is something still writing it?)";
        channel.removeFile(temporary, ignored);
        return false;
    }
    if (!putInPlace(channel, temporary, file.path, failure)) {
        std::cout << " failed" << std::endl;
        return false;
    }
    std::cout << " copied" << std::endl;
    digests.read = true;
    digests.md5 = md5.finalize().hexDigest();
    digests.sha256 = withSha256 ? sha256.hexDigest() : std::string();
    digests.size = copied;
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

// The paths the channel's current manifest lists, read with the launcher's
// parser; a line it does not take is a file that may be left behind.
std::set<std::string> previouslyListed(const ChannelDirectory& channel, std::vector<std::string>& warnings)
{
    std::string text;
    bool missing = false;
    std::string failure;
    if (!channel.readFile(channelManifestName, channelTextLimitBytes, text, missing, failure)) {
        if (!missing)
            warnings.push_back(failure + ": the files it lists may be left in the channel");
        return {};
    }
    const FileIndex index(text);
    std::set<std::string> paths;
    std::istringstream lines(text);
    std::size_t number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        std::string path = line.size() > 34 ? line.substr(34) : std::string();
        const auto listed = index.remoteDigests.find(path);
        if (!path.empty() && path.back() == '\r')
            path.pop_back();  // a manifest edited into CR LF line ends
        if (listed != index.remoteDigests.end() && line.compare(0, 32, listed->second) == 0 &&
            isSafeManifestPath(path)) {
            paths.insert(path);
            continue;
        }
        // Not the line itself: md5sums is the server's, and could hold anything.
        warnings.push_back("the previous " + std::string(channelManifestName) + " line " + std::to_string(number) +
                           " does not parse: a file it lists may be left in the channel");
    }
    return paths;
}

}  // namespace

bool makeChannelDirectory(const fs::path& directory, std::string& failure)
{
    fs::path made;
    for (const fs::path& part : directory) {
        made /= part;
        std::error_code error;
        if (fs::create_directory(made, error))
            fs::permissions(made, fs::perms(0755), error);  // whatever the umask: the web server must enter it
        if (error) {
            failure = "cannot create " + made.string() + ": " + error.message();
            return false;
        }
    }
    return true;
}

bool raiseLock(const ChannelDirectory& channel, std::string& failure)
{
    // What a killed run left: never served, never ours to keep.
    const std::string suffix = publisherTemporarySuffix;
    for (const std::string& directory : {std::string(), std::string(libraryDirectoryName)}) {
        std::vector<std::string> names;
        channel.list(directory, names);
        for (const std::string& name : names) {
            const std::string path = directory.empty() ? name : directory + "/" + name;
            std::string ignored;
            if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                isSafeManifestPath(path) && channel.kindOf(path) == ChannelDirectory::Kind::regular)
                channel.removeFile(path, ignored);
        }
    }
    const std::string startedAt = utcNow();
    if (!writeAtomically(channel, channelLockName, startedAt, failure))
        return false;
    std::cout << "Lock raised: update started at " << startedAt << std::endl;
    return true;
}

bool publishChannel(const SourceTree& tree, const ChannelDirectory& channel, unsigned holdLockSeconds,
                    const ReleaseSigning* signing, PublishSummary& summary, std::vector<std::string>& warnings,
                    std::string& failure)
{
    if (holdLockSeconds > 0) {
        std::cout << "Holding the lock for " << holdLockSeconds << " s" << std::endl;
        std::this_thread::sleep_for(std::chrono::seconds(holdLockSeconds));
    }

    std::set<std::string> removable = previouslyListed(channel, warnings);
    WrittenJournal journal(channel);
    for (const std::string& path : journal.read(warnings)) {
        if (isSafeManifestPath(path))
            removable.insert(path);
    }
    std::string manifest;
    std::vector<ReleaseEntry> signedEntries;
    std::set<std::string> listedNow;
    for (const SourceFile& file : tree.files) {
        FileDigests digests;
        // Same size: compare contents (the bytes read are the ones listed); else it changed for sure.
        const FileVersion source = versionOf(file.location);
        unsigned long long publishedSize = 0;
        if (channel.kindOf(file.path, &publishedSize) == ChannelDirectory::Kind::regular && source.known &&
            publishedSize == source.size) {
            digests = digestsOfFile(file.location, signing != nullptr);
            if (!digests.read) {
                failure = "cannot read " + file.location.string() + ": " + describeErrno();
                return false;
            }
            if (digestsOfFile(channel, file.path, false).md5 != digests.md5)
                digests.read = false;
        }
        if (!digests.read && (!journal.add(file.path, failure) ||
                              !copyAtomically(channel, file, signing != nullptr, digests, summary, failure)))
            return false;
        manifest += manifestLine(digests.md5, file.path);
        signedEntries.push_back({digests.sha256, digests.size, file.path});
        listedNow.insert(file.path);
        ++summary.files;
    }

    // Only what a manifest listed or a run of ours wrote is ours to remove,
    // and only a regular file: never a directory, never through a link.
    for (const std::string& path : removable) {
        if (listedNow.count(path) != 0 || path == channelLockName || path == channelManifestName ||
            path == channelReleaseName || channel.kindOf(path) != ChannelDirectory::Kind::regular)
            continue;
        if (!channel.removeFile(path, failure))
            return false;
        std::cout << "- " << shownText(path) << " removed" << std::endl;  // the server's manifest named it
        ++summary.removed;
    }

    if (!writeAtomically(channel, channelManifestName, manifest, failure))
        return false;
    if (signing != nullptr &&
        !writeAtomically(channel, channelReleaseName, signedReleaseText(*signing, manifest, signedEntries), failure))
        return false;
    if (!journal.clear(failure))
        return false;
    if (channel.kindOf(channelLockName) != ChannelDirectory::Kind::regular) {
        failure = "cannot remove the lock " + channel.shown(channelLockName) + ": someone else removed it meanwhile";
        return false;
    }
    return channel.removeFile(channelLockName, failure);
}
