#pragma once

#include "channel/manifest.h"
#include "channel/release.h"

#include "launcher/update_channel.h"

#include <string>

// True when the launcher was built with release keys: it then runs only
// what a signed release of its channel vouches for.
bool releaseKeysBuiltIn();

// Fetches the channel's "release" and checks it against the built-in keys,
// the channel, the serial accepted before, the clock and the manifest
// (its text, and as parsed).
// Completes the open "Checking for updated files..." line on failure;
// false when the run must give up, with nothing fetched or written.
bool fetchSignedRelease(const UpdateChannel& channel, const std::string& manifestText, const Manifest& manifest,
                        Release& release);
