#pragma once

#include "channel/manifest.h"
#include "channel/release.h"

#include "launcher/console/console.h"
#include "launcher/http/transport.h"
#include "launcher/release/release_trust.h"

#include <string>
#include <vector>

// The channel's "release", fetched before its manifest (a content-addressed
// release says where the manifest is) and its signature checked once.
struct FetchedRelease {
    bool fetched = false;
    bool verified = false;  // signed by a key of the run's, and well formed
    Release release;
    std::string text;  // as signed: kept once accepted
    // Taken as older than the accepted release: the directory took a staged
    // release that this server does not serve whole.
    bool installedIsNewer = false;
};
// `directory` is the channel's request path, ending in "/".
FetchedRelease fetchRelease(const ReleaseTrust& trust, const std::string& directory, Transport& transport);

// Where to fetch the manifest: its content-addressed copy when the release
// verified and says the channel keeps one, else `manifestUri`, the channel's manifest file.
std::string manifestUriFor(const std::string& directory, const std::string& manifestUri, const FetchedRelease& fetched);
// How much of the manifest is read: one byte past the size a verified release
// states, when it states one (enough to tell a longer answer), else the channel's bound.
std::size_t manifestLimitFor(const FetchedRelease& fetched);

// A valid release of the channel, older than the one accepted before: a
// cache edge that has not caught up, not an update.
bool isOlderThanAccepted(const ReleaseTrust& trust, const FetchedRelease& fetched);
// Instead of fetching anything: true, after a line that says so, when the
// installed files are those of the accepted release; else the refusal as for
// any older release. Completes the "Connecting to server..." line.
// `digestCache`: unchanged files take their recorded digest unread.
bool startAcceptedInstead(const ReleaseTrust& trust, bool digestCache, Console& console);

// Whether the release verified and holds against the run's trust and the manifest, as checkSignedRelease
// judges it, with no word on the console.
bool releaseHolds(const ReleaseTrust& trust, const FetchedRelease& fetched, const std::string& manifestText,
                  const Manifest& manifest);

// Checks the release against the run's keys, the channel, the serial
// accepted before, the clock and the manifest (its text, and as parsed).
// Completes the open "Checking for updated files..." line on failure;
// false when the run must give up, with nothing fetched or written.
bool checkSignedRelease(const ReleaseTrust& trust, const FetchedRelease& fetched, const std::string& manifestText,
                        const Manifest& manifest, Console& console);
