#pragma once

#include "channel/release.h"

#include <string>

// A staged rollout: a newer release that only a share of game directories
// take while the rest keep the channel's current one. The current release
// names it in one file line, under a path no manifest lists, so that every
// launcher in players' hands reads the current release as ever:
//   file S Z by-hash/S staged M PPM                (a fixed share)
//   file S Z by-hash/S staged M PPM SINCE DAYS     (a share that grows)
// S, Z: SHA-256 and size of the staged release's signed text, an object;
// M: the SHA-256 of the staged release's manifest; PPM: the share in parts
// per million; SINCE: when the schedule began ("YYYY-MM-DDTHH:MM:SSZ");
// DAYS: after as many whole days every game directory takes it.
inline constexpr unsigned long rolloutWholeShare = 1000000;
inline constexpr unsigned longestRolloutDays = 3650;

struct Rollout {
    std::string stagedSha256;
    unsigned long long stagedSize = 0;
    std::string stagedManifestSha256;
    unsigned long sharePpm = 0;  // fixed, or where the schedule starts
    bool scheduled = false;
    long long since = 0;
    unsigned days = 0;
};

ReleaseEntry rolloutEntry(const Rollout& rollout);
// False when the release names no rollout, or more than one, or one malformed.
bool rolloutOf(const Release& release, Rollout& rollout);
// Whether `entry` is a rollout line (well formed or not): never a file to fetch.
bool isRolloutEntry(const ReleaseEntry& entry);

// The share at `now`: scheduled, PPM + (whole - PPM) * min(d, DAYS) / DAYS
// after d whole days since SINCE.
unsigned long rolloutShareAt(const Rollout& rollout, long long now);
// When a scheduled rollout reaches every game directory.
long long rolloutCompleteAt(const Rollout& rollout);

// "25", "2.5", "0.0001" up to "100" (percent, at most four decimals) as parts per million.
bool parseSharePercent(const std::string& text, unsigned long& ppm);
// "25%", "2.5%", "0.0001%".
std::string sharePercentText(unsigned long ppm);

// An install id: 32 lowercase hex digits. Its first 8 place the game
// directory, uniformly, in [0, 1): it takes the staged release below the
// share, so that raising the share keeps every directory that took it.
bool isInstallId(const std::string& text);
bool isInRolloutGroup(const std::string& installId, unsigned long sharePpm);
// Where the id places the game directory, in parts per million (for the log).
unsigned long installIdPlace(const std::string& installId);
