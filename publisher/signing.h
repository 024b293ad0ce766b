#pragma once

#include "channel/release.h"

#include <filesystem>
#include <string>
#include <vector>

// What a signed publish puts into the channel's release.
struct ReleaseSigning {
    SecretKey key;
    std::string channelName;
    unsigned long long serial = 0;
    bool expires = false;
    long long expiresAt = 0;
};

// Writes a new key pair's secret half to `file` (mode 0600, never over an
// existing file) and gives the public key line for LAUNCHER_RELEASE_KEYS.
bool makeKeyPair(const std::filesystem::path& file, std::string& publicKeyLine, std::string& failure);
bool loadSecretKey(const std::filesystem::path& file, SecretKey& key, std::string& failure);

// The name launchers ask for: the channel directory's last segment.
bool channelNameOf(const std::filesystem::path& channel, std::string& name, std::string& failure);

// The serial of the channel's current release (0 when it has none);
// false when a release is there but cannot be read.
bool currentSerial(const std::filesystem::path& channel, unsigned long long& serial, std::string& failure);

std::string signedReleaseText(const ReleaseSigning& signing, const std::string& manifest,
                              const std::vector<ReleaseEntry>& entries);

// Signs the channel's current files anew (a new serial and expiry), copying
// nothing; refuses a channel whose files do not match its manifest.
bool resignChannel(const std::filesystem::path& channel, const ReleaseSigning& signing, std::string& failure);
