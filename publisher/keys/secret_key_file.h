#pragma once

#include "publisher/keys/secret_key.h"

#include <filesystem>
#include <string>

// Writes a new key pair's secret half to `file` (mode 0600, never over an
// existing file) and gives the public key line for LAUNCHER_RELEASE_KEYS.
bool makeKeyPair(const std::filesystem::path& file, std::string& publicKeyLine, std::string& failure);

// Reads the secret key as ssh reads one: the file itself (not a link to it),
// a regular file of the user running orn-publish that only they may read or
// write, and not inside `channel` (where the web server would serve it); its
// text is held in locked memory and wiped once parsed.
bool loadSecretKey(const std::filesystem::path& file, const std::filesystem::path& channel, SecretKey& key,
                   std::string& failure);
