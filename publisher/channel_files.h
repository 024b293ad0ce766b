#pragma once

#include <filesystem>
#include <string>

// Suffix of the names that the publisher writes before a rename puts them in place.
inline constexpr const char* publisherTemporarySuffix = ".orn-publish";

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

// Writes `text` under a temporary name and renames it over `target`.
bool writeAtomically(const std::filesystem::path& target, const std::string& text, std::string& failure);
