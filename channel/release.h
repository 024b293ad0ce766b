#pragma once

#include "channel/release_key.h"
#include "channel/utc_time.h"

#include <string>
#include <vector>

// The signed statement of what a channel holds ("release" beside "md5sums"):
//   orn-release 1                  (a staged release: "orn-staged-release 1")
//   channel NAME
//   serial N                       (only ever grows)
//   expires YYYY-MM-DDTHH:MM:SSZ   (optional)
//   md5sums-sha256 HEX
//   file SHA256HEX SIZE PATH       (one per manifest entry, in its order; then
//                                   one per chunk index, see chunk_index.h)
//   signature KEYID BASE64         (Ed25519 over every byte before this line)
// How the format grows: a reader takes "orn-release 1" and any minor
// "orn-release 1.N", ignores a line whose keyword it does not know (it is
// signed, so only the key holder wrote it), and refuses a known line given
// twice, a file path given twice, and any other major format. Launchers
// older than this rule refuse every unknown line, and they read file lines
// whatever their path: what they too must accept goes into file lines under
// names that no manifest lists.
// The largest serial (and size) a release may state. Launchers in players'
// hands read up to this; the publisher never signs above it.
inline constexpr unsigned long long largestReleaseSerial = 1ULL << 62;

struct ReleaseEntry {
    std::string sha256;
    unsigned long long size = 0;
    std::string path;
};

struct Release {
    std::string channel;
    unsigned long long serial = 0;
    bool expires = false;
    long long expiresAt = 0;  // seconds since 1970-01-01 UTC
    std::string manifestSha256;
    std::vector<ReleaseEntry> files;
    // A release offered to a share of game directories only (see rollout.h). Its
    // own first line makes every launcher refuse it when served as "release".
    bool staged = false;
};

// A number in a signed text: decimal without sign, blanks or leading zeros, at most `largest`.
bool parseSignedNumber(const std::string& text, unsigned long long largest, unsigned long long& value);

// The text that is signed. Its parse gives back the same release.
std::string releaseBody(const Release& release);
// False for a release that this reader cannot trust (see above).
bool parseReleaseBody(const std::string& body, Release& release);

// What begins the signature line that follows the body: the key id and
// the base64 of the Ed25519 signature come after it.
inline constexpr const char* releaseSignatureKeyword = "signature ";
// Splits a signed text; false when its last line is not a well-formed signature line.
bool splitSignedRelease(const std::string& text, std::string& body, std::string& keyId, std::string& signature);
// True, with the body, when the signature verifies with the key among `keys` that it names.
bool verifySignedRelease(const std::string& text, const std::vector<ReleaseKey>& keys, std::string& body);
