#pragma once

#include "channel/release.h"

#include <string>
#include <unordered_map>
#include <vector>

// Files an update retires: listed by the release this directory last
// accepted for `channel` (all of them were in place, verified, when it was
// accepted) and no longer by the manifest now in place (`listedNow`, path to
// digest). Each one that still holds exactly the bytes that release listed
// is removed; one changed since (a player's edit, a mod) and anything that
// release did not list stay, as do the launcher's own files and records.
// Gives the paths removed.
std::vector<std::string> removeRetiredFiles(const std::string& channel, const std::vector<ReleaseKey>& keys,
                                            const std::unordered_map<std::string, std::string>& listedNow);

// The paths of `before` (path to digest) that `now` no longer lists and the
// launcher may remove: a path `now` lists in another case is the same file
// on Windows, and its own files and records are never retired.
std::unordered_map<std::string, std::string>
retiredCandidates(const std::unordered_map<std::string, std::string>& before,
                  const std::unordered_map<std::string, std::string>& now);
