#pragma once

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
FileDigests digestsOfFile(const std::filesystem::path& file, bool withSha256);

// Renames a finished temporary file over `target`, so that a client never
// fetches a half-written file; removes the temporary file when it cannot.
bool putInPlace(const std::filesystem::path& temporary, const std::filesystem::path& target, std::string& failure);

// Writes `text` under a temporary name, readable by everyone (a web server
// may run as another user), and renames it over `target`; leaves no
// temporary file behind on failure.
bool writeAtomically(const std::filesystem::path& target, const std::string& text, std::string& failure);
