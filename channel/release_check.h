#pragma once

#include "channel/release.h"

#include <string>
#include <unordered_map>
#include <vector>

// What a launcher built with release keys requires before it fetches or
// writes anything, checked in this order.
enum class ReleaseVerdict {
    accepted,
    badSignature,      // malformed, or signed by none of the keys
    otherChannel,      // a valid release of another channel, replayed to this one
    olderSerial,       // older than one accepted before: a rollback
    expired,           // past its expiry (with a day's allowance for clock skew): a frozen channel
    manifestMismatch,  // the manifest is not the one that was signed
    unlistedEntry,     // the manifest names a path the release does not cover
};

// Clocks on players' machines may run a day off.
constexpr long long releaseClockSkewSeconds = 24 * 60 * 60;

// The signature and the form alone: true, with the release, when it
// verifies under one of `keys` and parses.
bool readSignedRelease(const std::string& releaseText, const std::vector<ReleaseKey>& keys, Release& release);

// The checks after the signature, of a release that readSignedRelease gave.
ReleaseVerdict checkSignedStatement(const Release& release, const std::string& channel,
                                    unsigned long long highestAcceptedSerial, long long now,
                                    const std::string& manifestText,
                                    const std::unordered_map<std::string, std::string>& manifestDigests);

// All of them, in order.
ReleaseVerdict checkRelease(const std::string& releaseText, const std::vector<ReleaseKey>& keys,
                            const std::string& channel, unsigned long long highestAcceptedSerial, long long now,
                            const std::string& manifestText,
                            const std::unordered_map<std::string, std::string>& manifestDigests, Release& release);
