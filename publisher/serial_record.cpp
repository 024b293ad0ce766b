#include "publisher/serial_record.h"

#include "channel/release.h"
#include "digest/sha256.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const char* const recordHeader = "orn-publish serial record 1";
const char* const temporarySuffix = ".tmp";
const char* const originSuffix = ".origin";
const std::size_t originLimitBytes = 4096;

std::string describeErrno()
{
    return std::strerror(errno);
}

fs::path stateDirectory()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')  // a relative one is ignored, as the XDG rules say
        return fs::path(state) / "orn-publish";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* user = ::getpwuid(::geteuid());
        home = user != nullptr ? user->pw_dir : "/";
    }
    return fs::path(home) / ".local" / "state" / "orn-publish";
}

// The state directory, opened without following a link and only when it is
// the deployer's own; -1 with `missing` when it does not exist yet.
int openStateDirectory(bool create, bool& missing, std::string& failure)
{
    const fs::path directory = stateDirectory();
    if (create) {
        fs::path made;
        for (const fs::path& part : directory) {
            made /= part;
            if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
                failure = "cannot create " + made.string() + ": " + describeErrno();
                return -1;
            }
        }
    }
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    missing = fd < 0 && errno == ENOENT;
    struct stat facts {};
    if (fd < 0 || ::fstat(fd, &facts) != 0 || facts.st_uid != ::geteuid() ||
        ((facts.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0)) {
        if (!missing)
            failure = "the state directory " + directory.string() +
                      (fd >= 0 && facts.st_uid != ::geteuid() ? " belongs to another user"
                                                              : ": " + describeErrno() +
                                                                    (errno == ELOOP ? " (a symbolic link)" : ""));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// All of `text`, a write at a time.
bool writeWhole(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

bool realPathOf(const fs::path& channel, std::string& path, std::string& failure)
{
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(channel.c_str(), nullptr), &std::free);
    if (!real) {
        failure = "cannot resolve " + channel.string() + ": " + describeErrno();
        return false;
    }
    path = real.get();
    return true;
}

// The record's own text; its last line names the channel, so that a
// collision of names or a copied file is caught.
std::string recordText(const SerialRecord& record, const std::string& channelPath)
{
    return std::string(recordHeader) + "\nserial " + std::to_string(record.serial) + "\nexpires " +
           (record.expiresDays == 0 ? std::string("never") : std::to_string(record.expiresDays)) + "\nchannel " +
           channelPath + "\n";
}

bool parseRecord(const std::string& text, const std::string& channelPath, SerialRecord& record)
{
    std::istringstream lines(text);
    std::string header;
    std::string serial;
    std::string expires;
    std::getline(lines, header);
    std::getline(lines, serial);
    std::getline(lines, expires);
    char* end = nullptr;
    if (header != recordHeader || serial.compare(0, 7, "serial ") != 0 || expires.compare(0, 8, "expires ") != 0)
        return false;
    record.serial = std::strtoull(serial.c_str() + 7, &end, 10);
    if (*end != '\0' || record.serial == 0 || record.serial > largestReleaseSerial)
        return false;
    record.expiresDays = 0;
    if (expires != "expires never" &&
        ((record.expiresDays = static_cast<unsigned>(std::strtoul(expires.c_str() + 8, &end, 10))) == 0 ||
         *end != '\0'))
        return false;
    return text == recordText(record, channelPath);
}

}  // namespace

bool channelRealPath(const fs::path& channel, std::string& path, std::string& failure)
{
    return realPathOf(channel, path, failure);
}

bool readStateFile(const std::string& channelPath, const std::string& suffix, std::size_t limit, std::string& text,
                   bool& found, std::string& file, std::string& failure)
{
    const std::string name = sha256Hex(channelPath) + suffix;
    file = (stateDirectory() / name).string();
    text.clear();
    found = false;
    bool missing = false;
    const int directory = openStateDirectory(false, missing, failure);
    if (directory < 0)
        return missing;
    const int fd = ::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int cause = errno;
    ::close(directory);
    if (fd < 0 && cause == ENOENT)
        return true;
    found = true;
    struct stat facts {};
    if (fd >= 0 && ::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) &&
        static_cast<unsigned long long>(facts.st_size) <= limit) {
        text.resize(static_cast<std::size_t>(facts.st_size));
        if (!text.empty() && ::read(fd, &text[0], text.size()) != static_cast<ssize_t>(text.size()))
            text.clear();
    }
    if (fd >= 0)
        ::close(fd);
    return true;
}

bool writeStateFile(const std::string& channelPath, const std::string& suffix, const std::string& text,
                    std::string& file, std::string& failure)
{
    const std::string name = sha256Hex(channelPath) + suffix;
    const std::string temporary = name + temporarySuffix;
    file = (stateDirectory() / name).string();
    bool missing = false;
    const int directory = openStateDirectory(true, missing, failure);
    if (directory < 0)
        return false;
    ::unlinkat(directory, temporary.c_str(), 0);  // a killed run's; a link is removed, never followed
    const int fd = ::openat(directory, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool saved = fd >= 0 && writeWhole(fd, text) && ::fsync(fd) == 0;
    if (fd >= 0)
        saved = ::close(fd) == 0 && saved;
    saved = saved && ::renameat(directory, temporary.c_str(), directory, name.c_str()) == 0;
    if (!saved) {
        failure = "cannot write " + file + ": " + describeErrno();
        ::unlinkat(directory, temporary.c_str(), 0);
    } else {
        ::fsync(directory);
    }
    ::close(directory);
    return saved;
}

bool findSerialRecord(const fs::path& channel, SerialRecord& record, std::string& failure)
{
    record = SerialRecord();
    std::string channelPath;
    std::string text;
    bool found = false;
    if (!realPathOf(channel, channelPath, failure) ||
        !readStateFile(channelPath, "", 65535, text, found, record.file, failure))
        return false;
    if (!found)
        return true;
    if (!parseRecord(text, channelPath, record)) {
        failure = "the record of the serials signed for " + channelPath + ", " + record.file +
                  ", cannot be read; the next serial is unknown";
        return false;
    }
    record.found = true;
    // "serial N" then the origin: only an origin of this very serial counts.
    std::string origin;
    std::string ignored;
    bool originFound = false;
    const std::string prefix = "serial " + std::to_string(record.serial) + "\n";
    if (readStateFile(channelPath, originSuffix, originLimitBytes, origin, originFound, ignored, ignored) &&
        origin.compare(0, prefix.size(), prefix) == 0 && origin.back() == '\n')
        record.origin = origin.substr(prefix.size(), origin.size() - prefix.size() - 1);
    return true;
}

bool restoreSerialRecord(const fs::path& channel, SerialRecord before, std::string& failure)
{
    if (before.found)
        return saveSerialRecord(channel, before, failure);
    std::string channelPath;
    bool missing = false;
    if (!realPathOf(channel, channelPath, failure))
        return false;
    const int directory = openStateDirectory(false, missing, failure);
    if (directory < 0)
        return missing;
    const bool removed = ::unlinkat(directory, sha256Hex(channelPath).c_str(), 0) == 0 || errno == ENOENT;
    if (!removed)
        failure = "cannot remove " + (stateDirectory() / sha256Hex(channelPath)).string() + ": " + describeErrno();
    ::close(directory);
    return removed;
}

bool saveSerialRecord(const fs::path& channel, SerialRecord& record, std::string& failure)
{
    std::string channelPath;
    if (!realPathOf(channel, channelPath, failure))
        return false;
    record.found = writeStateFile(channelPath, "", recordText(record, channelPath), record.file, failure);
    std::string ignored;
    if (record.found && !record.origin.empty())  // only status reads it: losing it loses nothing else
        writeStateFile(channelPath, originSuffix, "serial " + std::to_string(record.serial) + "\n" + record.origin + "\n",
                       ignored, ignored);
    return record.found;
}
