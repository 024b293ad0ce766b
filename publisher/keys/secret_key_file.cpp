#include "publisher/keys/secret_key_file.h"

#include "publisher/folder/private_folders.h"
#include "publisher/folder/resolved_path.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace fs = std::filesystem;

namespace {

// A key file is about 130 bytes; anything much larger is something else.
const std::size_t largestKeyFileBytes = 4096;

std::string modeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Reads the open file into `text`, whose storage stays locked and is wiped by the caller.
bool readLocked(int fd, std::string& text)
{
    std::size_t length = 0;
    while (length < text.size()) {
        const ssize_t count = ::read(fd, &text[length], text.size() - length);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        if (count == 0)
            break;
        length += static_cast<std::size_t>(count);
    }
    text.resize(length);  // shrinking keeps the storage where it is
    return true;
}

// True when one of the directories above `file`, by its real path, is
// `channel` (the same device and inode, whatever path leads to either).
bool liesInside(const fs::path& file, const fs::path& channel)
{
    struct stat served {};
    std::error_code error;
    fs::path directory;
    std::string failure;
    if (!resolvedPath(fs::absolute(file, error).parent_path(), directory, failure) || error ||
        ::stat(channel.c_str(), &served) != 0)
        return false;
    for (;; directory = directory.parent_path()) {
        struct stat facts {};
        if (::stat(directory.c_str(), &facts) == 0 && facts.st_dev == served.st_dev && facts.st_ino == served.st_ino)
            return true;
        if (directory == directory.root_path() || directory.empty())
            return false;
    }
}

// Why the opened key file is refused, as ssh refuses one; empty when it is not.
std::string keyFileProblem(const fs::path& file, const struct stat& facts, const fs::path& channel)
{
    if (!S_ISREG(facts.st_mode))
        return "the secret key " + file.string() + " is not a regular file";
    if (facts.st_uid != ::geteuid())
        return "the secret key " + file.string() + " is owned by another user (uid " + std::to_string(facts.st_uid) +
               "), perhaps the web server's; only the deployer's own key file is used";
    if ((facts.st_mode & 077) != 0)
        return "the secret key " + file.string() + ": permissions too open (" + modeText(facts.st_mode) +
               "); only its owner may read it: chmod 600 " + file.string();
    if (liesInside(file, channel))
        return "the secret key " + file.string() + " lies inside the channel " + channel.string() +
               ", where the web server serves it to anyone: move it off the web server";
    return std::string();
}

}  // namespace

bool makeKeyPair(const fs::path& file, std::string& publicKeyLine, std::string& failure)
{
    if (!makePrivateFolders(fs::absolute(file).parent_path(), failure))
        return false;
    const SecretKey key = generateSecretKey();
    std::string text = secretKeyFileText(key);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        sodium_memzero(&text[0], text.size());
        failure = "cannot create " + file.string() + ": " + std::strerror(errno) +
                  (errno == EEXIST ? " (an existing key is never overwritten)" : "");
        return false;
    }
    // Whatever the umask, only the owner may read a secret key.
    const bool written = ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    const int cause = errno;
    sodium_memzero(&text[0], text.size());
    if (::close(fd) != 0 || !written) {
        failure = "cannot write " + file.string() + ": " + std::strerror(written ? errno : cause);
        ::unlink(file.c_str());
        return false;
    }
    publicKeyLine = releaseKeyText(key.publicPart);
    return true;
}

bool loadSecretKey(const fs::path& file, const fs::path& channel, SecretKey& key, std::string& failure)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure = "cannot read the secret key " + file.string() + ": " +
                  (errno == ELOOP ? std::string("it is a symbolic link; give the key file itself")
                                  : std::string(std::strerror(errno)));
        return false;
    }
    struct stat facts {};
    failure = ::fstat(fd, &facts) != 0 ? "cannot examine the secret key " + file.string() + ": " + std::strerror(errno)
                                       : keyFileProblem(file, facts, channel);
    if (!failure.empty()) {
        ::close(fd);
        return false;
    }
    std::string text(largestKeyFileBytes + 1, '\0');
    sodium_mlock(&text[0], text.size());
    const bool read = readLocked(fd, text);
    const int cause = errno;
    ::close(fd);
    const bool parsed = read && text.size() <= largestKeyFileBytes && parseSecretKeyFile(text, key);
    sodium_munlock(&text[0], largestKeyFileBytes + 1);  // wipes it, then unlocks
    if (!read)
        failure = "cannot read the secret key " + file.string() + ": " + std::strerror(cause);
    else if (!parsed)
        failure = file.string() + " is not a secret key made by orn-publish keygen";
    return parsed;
}
