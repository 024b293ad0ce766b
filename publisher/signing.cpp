#include "publisher/signing.h"

#include "channel/channel_names.h"
#include "channel/sha256.h"
#include "index/file_index.h"
#include "publisher/channel_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool readWhole(const fs::path& file, std::string& text)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    text = bytes.str();
    return !in.bad();
}

}  // namespace

bool makeKeyPair(const fs::path& file, std::string& publicKeyLine, std::string& failure)
{
    const SecretKey key = generateSecretKey();
    const std::string text = secretKeyFileText(key);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        failure = "cannot create " + file.string() + ": " + std::strerror(errno) +
                  (errno == EEXIST ? " (an existing key is never overwritten)" : "");
        return false;
    }
    // Whatever the umask, only the owner may read a secret key.
    const bool written = ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                         ::fsync(fd) == 0;
    const int cause = errno;
    if (::close(fd) != 0 || !written) {
        failure = "cannot write " + file.string() + ": " + std::strerror(written ? errno : cause);
        ::unlink(file.c_str());
        return false;
    }
    publicKeyLine = releaseKeyText(key.publicPart);
    return true;
}

bool loadSecretKey(const fs::path& file, SecretKey& key, std::string& failure)
{
    std::string text;
    if (!readWhole(file, text)) {
        failure = "cannot read the secret key " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!parseSecretKeyFile(text, key)) {
        failure = file.string() + " is not a secret key made by orn-publish keygen";
        return false;
    }
    return true;
}

bool channelNameOf(const fs::path& channel, std::string& name, std::string& failure)
{
    fs::path normal = channel.lexically_normal();
    if (!normal.has_filename())
        normal = normal.parent_path();
    name = normal.filename().string();
    if (name.empty() || name == "." || name == ".." || name.find_first_of("\n\r") != std::string::npos) {
        failure = channel.string() + ": its last segment, the channel name that launchers ask for, is not usable";
        return false;
    }
    return true;
}

bool currentSerial(const fs::path& channel, unsigned long long& serial, std::string& failure)
{
    serial = 0;
    const fs::path file = channel / channelReleaseName;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(file, error)))
        return true;
    std::string text;
    std::string body;
    std::string keyId;
    std::string signature;
    Release release;
    if (!readWhole(file, text) || !splitSignedRelease(text, body, keyId, signature) ||
        !parseReleaseBody(body, release)) {
        failure = file.string() + " cannot be read as a release, so its serial is unknown; give --serial";
        return false;
    }
    serial = release.serial;
    return true;
}

std::string signedReleaseText(const ReleaseSigning& signing, const std::string& manifest,
                              const std::vector<ReleaseEntry>& entries)
{
    Release release;
    release.channel = signing.channelName;
    release.serial = signing.serial;
    release.expires = signing.expires;
    release.expiresAt = signing.expiresAt;
    release.manifestSha256 = sha256Hex(manifest);
    release.files = entries;
    return signRelease(releaseBody(release), signing.key);
}

bool resignChannel(const fs::path& channel, const ReleaseSigning& signing, std::string& failure)
{
    std::error_code error;
    if (fs::exists(fs::symlink_status(channel / channelLockName, error))) {
        failure = "the channel's lock is up: a publish has not finished; run it again before signing anew";
        return false;
    }
    std::string manifest;
    if (!readWhole(channel / channelManifestName, manifest)) {
        failure = "cannot read " + (channel / channelManifestName).string() + ": " + std::strerror(errno);
        return false;
    }
    // In the manifest's order: the parser gives the entries, the lines their order.
    const FileIndex index(manifest);
    std::vector<ReleaseEntry> entries;
    std::istringstream lines(manifest);
    std::string line;
    while (entries.size() < index.remoteDigests.size() && std::getline(lines, line)) {
        const std::string path = line.size() > 34 ? line.substr(34) : std::string();
        const auto listed = index.remoteDigests.find(path);
        if (listed == index.remoteDigests.end() || line.compare(0, 32, listed->second) != 0)
            break;
        const FileDigests digests = digestsOfFile(channel / path, true);
        if (!digests.read || digests.md5 != listed->second) {
            failure = (channel / path).string() + " does not match the channel's manifest; publish the release again";
            return false;
        }
        entries.push_back({digests.sha256, digests.size, path});
    }
    if (entries.size() != index.remoteDigests.size()) {
        failure = (channel / channelManifestName).string() + " is not a manifest that orn-publish wrote";
        return false;
    }
    return writeAtomically(channel / channelReleaseName, signedReleaseText(signing, manifest, entries), failure);
}
