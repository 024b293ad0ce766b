#pragma once

#include <filesystem>
#include <string>

// Makes `directory` and each folder above it that does not exist yet, mode
// 0700: what goes into them (keys, records) is for the deployer alone.
// Folders that exist are left as they are.
bool makePrivateFolders(const std::filesystem::path& directory, std::string& failure);
