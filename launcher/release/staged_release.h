#pragma once

#include "launcher/http/transport.h"
#include "launcher/release/release_trust.h"
#include "launcher/release/signed_release.h"

#include <optional>
#include <string>

// Which release a game directory takes of a current release that stages a
// newer one: the staged one when its install id falls within the share now,
// or when it took the staged release before (its accepted release has the
// staged manifest, or a serial above the current release's), so that nobody
// is ever sent back. Every other directory takes the current release.
struct ReleaseChoice {
    FetchedRelease release;
    std::string note;  // for the support log: empty when the release stages nothing
    // The current release, when `release` is a staged one this directory has
    // not taken before: what it keeps if the staged one's manifest or files do not hold.
    std::optional<FetchedRelease> current = std::nullopt;
};
// `current` as fetchRelease gave it; `directory` the channel's request path.
// A staged release that cannot be fetched or does not verify leaves a
// directory that took it before with the installed game (the server's fault:
// the next server may serve it whole), any other with the current one.
ReleaseChoice chooseRelease(const ReleaseTrust& trust, const std::string& directory, FetchedRelease current,
                            Transport& transport);
