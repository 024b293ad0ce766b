#pragma once

#include "channel/manifest.h"
#include "channel/release.h"

#include "launcher/update_channel.h"

#include <string>

// True when the launcher was built with release keys: it then runs only
// what a signed release of its channel vouches for.
bool releaseKeysBuiltIn();

// Fetches the channel's "release" text, before its manifest: a
// content-addressed release says where the manifest is. False when it
// cannot be fetched; nothing is on the console then.
bool fetchReleaseText(const UpdateChannel& channel, std::string& releaseText);

// Where to fetch the manifest: its content-addressed copy when the release
// verifies and says the channel keeps one, else the channel's manifest file.
std::string manifestUriFor(const UpdateChannel& channel, const std::string& releaseText);

// Checks the release against the built-in keys, the channel, the serial
// accepted before, the clock and the manifest (its text, and as parsed).
// `fetched` false: the release could not be fetched. Completes the open
// "Checking for updated files..." line on failure; false when the run must
// give up, with nothing fetched or written.
bool checkSignedRelease(const UpdateChannel& channel, bool fetched, const std::string& releaseText,
                        const std::string& manifestText, const Manifest& manifest, Release& release);
