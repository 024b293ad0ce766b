#pragma once

#include "channel/release_key.h"

#include <filesystem>
#include <string>

// Writes a new key pair's secret half to `file` (mode 0600, never over an
// existing file) and gives the public key line for LAUNCHER_RELEASE_KEYS.
bool makeKeyPair(const std::filesystem::path& file, std::string& publicKeyLine, std::string& failure);

// Reads the secret key as ssh reads one: the file itself (not a link to it),
// a regular file that only its owner may read or write; its text is held
// in locked memory and wiped once parsed.
bool loadSecretKey(const std::filesystem::path& file, SecretKey& key, std::string& failure);
