#pragma once

#include "launcher/console/console.h"
#include "launcher/http/transport.h"
#include "launcher/update_channel.h"
#include "launcher/update_retrieval.h"
#include "platform/held_file_retry.h"

#include <string>

// What the build gives a run beside its channel.
struct LaunchSettings {
    // Ed25519 public keys "KEYID:BASE64" separated by ';'; empty: releases are not signed.
    std::string releaseKeys;
    unsigned int lockPollMilliseconds = 15000;  // pause between two lock requests
    bool digestCache = true;                    // unchanged files take their recorded digest unread
    // How long a downloaded file that another program holds is tried again.
    unsigned int heldFileWaitMilliseconds = platform::heldFileWaitMilliseconds;
    bool stagedRollouts = true;  // off: every staged release is passed by, as launchers before them did
};

// The whole run up to the hand-over: from "Connecting to server..." through
// the lock, the signed release, the manifest and the downloads to every file
// in place, or the reason the run gives up, told on `console`. Every request
// goes through `transport`.
UpdateOutcome update(const UpdateChannel& channel, const LaunchSettings& settings, Transport& transport,
                     Console& console);
