#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

// The opened channel directory. The web server's files may be an
// attacker's, so every access to what the channel holds goes through here:
// relative to the directory opened once, one path segment at a time, and
// never through a symbolic link (a planted link would have the publisher
// read, write, chmod or remove files anywhere the deployer may). Paths are
// relative to the channel, '/'-separated, as the manifest names them.
class ChannelDirectory {
public:
    enum class Kind { missing, regular, directory, link, other };

    ChannelDirectory() = default;
    ChannelDirectory(const ChannelDirectory&) = delete;
    ChannelDirectory& operator=(const ChannelDirectory&) = delete;
    ~ChannelDirectory();

    // Opens the channel without following a link in its last segment; the
    // directories above it are the deployer's and may be links.
    bool open(const std::filesystem::path& channel, std::string& failure);
    int descriptor() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    // `relative` as messages show it, under the channel's own path, its
    // control characters made visible (the names are the server's).
    std::string shown(const std::string& relative) const;

    // The names in a directory inside the channel ("" for the channel
    // itself); false when it cannot be read whole.
    bool list(const std::string& relative, std::vector<std::string>& names) const;

    // What stands at `relative`, a link not followed; false with errno set.
    bool statOf(const std::string& relative, struct stat& facts) const;
    // What stands at `relative` (a link is not followed), and its size.
    Kind kindOf(const std::string& relative, unsigned long long* size = nullptr) const;
    // A descriptor of the regular file at `relative`, or -1 with errno set
    // (ELOOP for a link, EINVAL for what is not a regular file).
    int openForReading(const std::string& relative) const;
    // The whole regular file, when it holds at most `limit` bytes and no
    // other name shares it (a hard link could be the secret key).
    bool readFile(const std::string& relative, std::size_t limit, std::string& text, bool& missing,
                  std::string& failure) const;

    // Makes the directory and those above it inside the channel, 0755 whatever the umask.
    bool makeDirectories(const std::string& relative, std::string& failure) const;
    // A new, empty file at `relative` that nothing else names, 0644 whatever
    // the umask (a web server may run as another user), replacing a file or
    // link left under that name; -1 with the reason.
    int createFresh(const std::string& relative, std::string& failure) const;
    // Opens `relative` to append to, creating it 0644; only a regular file
    // that no other name shares (a hard link would be written through).
    int openForAppending(const std::string& relative, std::string& failure) const;
    // Renames within the channel; whatever stands at `to` is replaced.
    bool rename(const std::string& from, const std::string& to, std::string& failure) const;
    // Gives what stands at `from` the second name `to` (a hard link; a
    // symbolic link is linked itself, never followed).
    bool link(const std::string& from, const std::string& to, std::string& failure) const;
    // Gives the open regular file `fd` (wherever it lies) the name `to`, a
    // hard link to that very file; false on another file system.
    bool linkDescriptor(int fd, const std::string& to, std::string& failure) const;
    // Removes the regular file at `relative`: never a directory, never what a link leads to.
    bool removeFile(const std::string& relative, std::string& failure) const;

private:
    // The directory that holds `relative`'s last segment, opened segment by
    // segment without following links (made 0755 where missing, when
    // `make`), and that last segment; -1 with errno set.
    int openParent(const std::string& relative, std::string& leaf, bool make) const;

    int fd_ = -1;
    std::filesystem::path path_;
};

// A descriptor closed when it goes out of scope.
class ScopedDescriptor {
public:
    explicit ScopedDescriptor(int fd) : fd_(fd) {}
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;
    ~ScopedDescriptor();
    int get() const { return fd_; }

private:
    int fd_;
};
