#pragma once

#include <filesystem>
#include <string>

// A path as the file system resolves it: absolute, links followed, without
// a trailing separator; the part that does not exist yet is kept as given.
// Two paths to one folder resolve alike, which is what the channel's records
// are keyed by and what tells one folder inside another.
bool resolvedPath(const std::filesystem::path& path, std::filesystem::path& resolved, std::string& failure);
