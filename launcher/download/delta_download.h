#pragma once

#include "channel/release.h"
#include "launcher/console/console.h"
#include "launcher/download/fetched_entry.h"
#include "launcher/http/transport.h"

#include <string>

// What lets a changed file be built from the copy the player already has.
struct DeltaSource {
    std::string indexUri;      // the file's chunk index on the server
    ReleaseEntry index;        // its signed SHA-256 and size
    std::string oldCopy;       // the file of the same path in the game directory, only ever read
    std::string blockSumsUri;  // the file's block sums, when the release gives them
    ReleaseEntry blockSums;    // their signed size (the SHA-256 covers them whole, never fetched whole)
};

enum class DeltaResult {
    placed,    // the file is whole, verified and in place
    fallBack,  // fetch it whole: the partial file holds only verified bytes, with a record to resume from
    failed,    // verified, but it could not be put in place
    held,      // verified, but another program holds the file: kept for the next start
};

// Fetches the signed chunk index, finds which chunks of the new file the old
// copy holds (and which a broken delta's partial file already holds in
// order), and builds the file in its partial file in order: held chunks
// copied, the rest asked for in single-range requests of at most
// `pieceBytes` (only the blocks the old copy lacks, where the block sums
// find the others), each chunk checked against its hash before it is written.
// The whole file's size, SHA-256 and MD5 then decide, as for any download.
DeltaResult downloadByDelta(Transport& transport, const FetchedEntry& entry, const DeltaSource& source,
                            unsigned long long pieceBytes, FileProgress* progress);
