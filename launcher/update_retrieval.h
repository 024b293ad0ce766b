#pragma once

#include "channel/manifest.h"
#include "channel/own_files.h"
#include "channel/release.h"

#include "launcher/console/console.h"
#include "launcher/http/transport.h"
#include "launcher/update_channel.h"

#include <string>

// What the update step leaves for the hand-over to the client.
struct UpdateOutcome {
    bool retrieved = false;  // false: a download failed, and the run gives up
    SelfFileFlags ownFiles = 0;  // the launcher's own files waiting as ".new" copies
};

// Works out which listed files are missing or differ and downloads them
// beside the launcher (its own files as name + ".new"), each verified
// against its manifest digest (and, under a signed `release`, its signed
// size and SHA-256). Once all is in place, a signed release is recorded as
// accepted: its serial, and `acceptedRecord` (see accepted_release.h).
UpdateOutcome retrieveUpdates(const UpdateChannel& channel, Transport& transport, Console& console,
                              Manifest manifest, const Release* release, const std::string& acceptedRecord);
