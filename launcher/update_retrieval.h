#pragma once

#include "channel/manifest.h"
#include "channel/own_files.h"
#include "channel/release.h"

#include "launcher/console/console.h"
#include "launcher/http/transport.h"
#include "launcher/release/release_trust.h"
#include "launcher/update_channel.h"

#include <string>

// What the update step leaves for the hand-over to the client.
struct UpdateOutcome {
    bool retrieved = false;      // false: a download failed, and the run gives up
    SelfFileFlags ownFiles = 0;  // the launcher's own files waiting as ".new" copies
};

// What a verified release adds to the retrieval.
struct SignedOffer {
    const ReleaseTrust& trust;
    const Release& release;
    std::string acceptedRecord;  // see accepted_release.h
};

// Works out which listed files are missing or differ and downloads them
// beside the launcher (its own files as name + ".new"), each verified
// against its manifest digest (and, under a signed `offer`, its signed
// size and SHA-256). Once all is in place, a signed release is recorded as
// accepted: its serial, and its record. With `digestCache`, unchanged files
// take their recorded digest unread. Before the first download, the folders
// must take new files and, under a signed release, the volume must have
// room; a downloaded file that another program holds is put in place once
// it lets go, for up to `heldWaitMilliseconds`.
UpdateOutcome retrieveUpdates(const UpdateChannel& channel, bool digestCache, unsigned int heldWaitMilliseconds,
                              Transport& transport, Console& console, Manifest manifest, const SignedOffer* offer);
