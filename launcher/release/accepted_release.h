#pragma once

#include "channel/channel_names.h"
#include "channel/release.h"

#include <string>
#include <vector>

// The signed release this game directory last accepted, with the manifest
// it signs, kept in "ORN_Launcher.accepted": "orn-accepted 1", the
// manifest's size in bytes, the manifest, then the release's signed text.
// A cache edge that still serves an older release then lets a player whose
// installed files are those of the accepted one start the game.
inline constexpr const char* acceptedReleaseFileName = launcherAcceptedReleaseName;

std::string acceptedReleaseText(const std::string& releaseText, const std::string& manifestText);

// Puts `text` in place as the record, through a temporary file and a rename;
// a record that already holds it is left as it is (no write on a plain start).
bool recordAcceptedRelease(const std::string& text);

// True when the record verifies under `keys` as the release accepted for
// `channel` (its serial, not expired), and the installed files are those
// its manifest lists; with `digestCache`, unchanged files cost no reading (the digest record).
bool installedIsAcceptedRelease(const std::string& channel, unsigned long long serial,
                                const std::vector<ReleaseKey>& keys, long long now, bool digestCache);

// The manifest of the release this directory last accepted for `channel`,
// when the record verifies under `keys` and binds it (its expiry aside:
// it is history, not an offer).
bool readAcceptedManifest(const std::string& channel, const std::vector<ReleaseKey>& keys, std::string& manifestText);
// The same for whichever channel the record names, with the release that binds it (an uninstall names none).
bool readAcceptedRecord(const std::vector<ReleaseKey>& keys, std::string& manifestText, Release& release);
