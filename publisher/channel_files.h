#pragma once

#include "publisher/channel_directory.h"

#include <filesystem>
#include <string>

// Suffix of the names that the publisher writes before a rename puts them in
// place. No published name contains it (the source check refuses them), so
// a temporary file never collides with a published one.
inline constexpr const char* publisherTemporarySuffix = ".orn-publish";
// The list of paths written since the last complete publish.
inline constexpr const char* publisherJournalName = "md5sums.orn-publish-written";

// What one read of a file gives: its MD5, its SHA-256 when asked for, and its size.
struct FileDigests {
    bool read = false;
    std::string md5;
    std::string sha256;
    unsigned long long size = 0;
};
// Reads the open file to its end, hashing every byte.
FileDigests digestsOfDescriptor(int fd, bool withSha256);
// A file of the deployer's release tree (a link there leads to the file to publish).
FileDigests digestsOfFile(const std::filesystem::path& file, bool withSha256);
// A regular file inside the channel, never read through a link.
FileDigests digestsOfFile(const ChannelDirectory& channel, const std::string& path, bool withSha256);

// Renames a finished temporary file over `target`, so that a client never
// fetches a half-written file; removes the temporary file when it cannot.
bool putInPlace(const ChannelDirectory& channel, const std::string& temporary, const std::string& target,
                std::string& failure);

// Writes `text` under a temporary name, readable by everyone (a web server
// may run as another user), and renames it over `target`; leaves no
// temporary file behind on failure.
bool writeAtomically(const ChannelDirectory& channel, const std::string& target, const std::string& text,
                     std::string& failure);

// Writes all of `size` bytes to `fd`.
bool writeAll(int fd, const char* data, std::size_t size);
