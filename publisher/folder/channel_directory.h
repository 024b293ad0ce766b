#pragma once

#include "publisher/folder/scoped_descriptor.h"

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

// Files made in the channel: readable by a web server that runs as another user.
inline constexpr mode_t channelFileMode = 0644;

// A name inside the channel: the directory that holds it, opened segment by
// segment without following links, and its last segment. Whatever is done
// with it must not follow a link either.
struct ChannelEntry {
    ScopedDescriptor directory;  // none (-1), errno set, when the walk failed
    std::string name;
};

// The opened channel directory. The web server's files may be an
// attacker's, so every access to what the channel holds goes through here,
// or through entry(): relative to the directory opened once, one path
// segment at a time, and never through a symbolic link (a planted link
// would have the publisher read, write, chmod or remove files anywhere the
// deployer may). Paths are relative to the channel, '/'-separated, as the
// manifest names them.
class ChannelDirectory {
public:
    enum class Kind { missing, regular, directory, link, other };

    ChannelDirectory() = default;
    ChannelDirectory(const ChannelDirectory&) = delete;
    ChannelDirectory& operator=(const ChannelDirectory&) = delete;

    // Opens the channel without following a link in its last segment; the
    // directories above it are the deployer's and may be links.
    bool open(const std::filesystem::path& channel, std::string& failure);
    int descriptor() const { return fd_.get(); }
    const std::filesystem::path& path() const { return path_; }
    // `relative` as messages show it, under the channel's own path, its
    // control characters made visible (the names are the server's).
    std::string shown(const std::string& relative) const;
    // Where `relative` stands; its directory is none, errno EINVAL, for a
    // path that would leave the walk ("", ".", "..", a doubled "/").
    ChannelEntry entry(const std::string& relative) const;

    // The names in a directory inside the channel ("" for the channel
    // itself); false when it cannot be read whole.
    bool list(const std::string& relative, std::vector<std::string>& names) const;

    // What stands at `relative`, a link not followed; false with errno set.
    bool statOf(const std::string& relative, struct stat& facts) const;
    // What stands at `relative` (a link is not followed), and its size.
    Kind kindOf(const std::string& relative, unsigned long long* size = nullptr) const;
    // The regular file at `relative`, opened to read; none (-1) with errno
    // set: ELOOP for a link, EINVAL for what is not a regular file.
    ScopedDescriptor openForReading(const std::string& relative) const;

    // Makes the directory and those above it inside the channel, 0755 whatever the umask.
    bool makeDirectories(const std::string& relative, std::string& failure) const;
    // A new, empty file at `relative` that nothing else names, 0644 whatever
    // the umask (a web server may run as another user), replacing a file or
    // link left under that name; none (-1) with the reason.
    ScopedDescriptor createFresh(const std::string& relative, std::string& failure) const;
    // Removes the regular file at `relative`: never a directory, never what a link leads to.
    bool removeFile(const std::string& relative, std::string& failure) const;

private:
    ScopedDescriptor fd_;
    std::filesystem::path path_;
};

// errno as messages about the channel give it: a link in the way is named so.
std::string describeChannelErrno();
