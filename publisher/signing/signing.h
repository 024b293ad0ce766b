#pragma once

#include "channel/release.h"
#include "publisher/keys/secret_key.h"
#include "publisher/release/current_release.h"
#include "publisher/release/release_retention.h"
#include "publisher/release/staged_release.h"
#include "publisher/state/serial_record.h"

#include <filesystem>
#include <string>
#include <vector>

// Signing without --expires: long enough to re-sign weekly or monthly, short
// enough that a channel frozen on an old release is refused within months.
inline constexpr unsigned defaultExpiryDays = 90;
inline constexpr unsigned expiryWarningDays = 14;

// What the deployer asked for on the command line.
struct SigningRequest {
    std::string secretKeyFile;
    std::vector<ReleaseKey> trustedKeys;  // besides the signing key's own public half
    unsigned long long serial = 0;        // 0: the next one
    bool expiryGiven = false;
    unsigned expiresDays = 0;  // when given; 0: never
    bool resign = false;
    bool keepGiven = false;
    unsigned keepReleases = defaultKeptReleases;
};

// What a signed publish puts into the channel's release.
struct ReleaseSigning {
    SecretKey key;
    std::string channelName;
    unsigned long long serial = 0;
    bool expires = false;
    long long expiresAt = 0;
    CurrentRelease current;                       // the channel's release before this run
    StagedRelease staged;                         // the one `current` stages, when it verified
    SerialRecord record;                          // saved, with the new serial, before any served file changes
    SerialRecord recordBefore;                    // as this run found it: put back when it changed nothing
    unsigned keepReleases = defaultKeptReleases;  // whose objects stay in by-hash/
};

// The name launchers ask for: the channel directory's last segment.
bool channelNameOf(const std::filesystem::path& channel, std::string& name, std::string& failure);

// Loads the key and settles the serial and expiry, for a channel held
// exclusively: the serial grows past both the channel's release, when it
// verifies, and the publisher's own record. False refuses the run.
bool prepareSigning(const ChannelDirectory& channel, const SigningRequest& request, ReleaseSigning& signing,
                    std::string& failure);

// An unsigned publish into a channel that is (or was) signed is refused.
bool refusesUnsignedPublish(const ChannelDirectory& channel, std::string& failure);

// `entries`: the manifest's files in its order, then the chunk indexes' lines,
// then the line that marks the channel content-addressed.
std::string signedReleaseText(const ReleaseSigning& signing, const std::string& manifest,
                              const std::vector<ReleaseEntry>& entries);

// Signs the channel's current release anew (the same entries, a new serial
// and expiry), copying nothing; refuses unless the release verified and
// md5sums and every file are still what it signed. During a rollout, its
// staged release too, at the same share (see rollout_signing.h).
bool resignChannel(const ChannelDirectory& channel, ReleaseSigning& signing, std::vector<std::string>& warnings,
                   std::string& failure);

// A warning when the new release expires within expiryWarningDays; empty otherwise.
std::string expiryWarning(const ReleaseSigning& signing, const std::string& channel);
