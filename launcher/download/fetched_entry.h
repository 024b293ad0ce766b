#pragma once

#include "channel/release.h"
#include "digest/streaming_digests.h"
#include "launcher/download/partial_download.h"

#include <string>

// What one file being fetched needs to know of itself.
struct FetchedEntry {
    std::string uri;
    std::string path;                           // the manifest path
    std::string expectedDigest;                 // its manifest digest
    const ReleaseEntry* signedEntry = nullptr;  // its signed size and SHA-256, under a signed release
    std::string localName;                      // where it goes in the game directory
};

// Whether a broken download's record is of this very entry: its path, its
// manifest digest and, under a signed release, its signed size. Only then
// are the partial file's bytes worth hashing again.
bool describes(const ResumeRecord& record, const FetchedEntry& entry);

// Which digests a download of the entry takes: under a signed release its
// SHA-256 alone (the verified release binds the manifest's MD5 to the same
// bytes, so hashing them twice would only halve the speed), else its MD5.
DigestSet digestsFor(const FetchedEntry& entry);

// The last word on a downloaded file, however it was built: under a signed
// release its signed size and SHA-256, else its manifest MD5.
bool holdsEntry(StreamingDigests& digests, const FetchedEntry& entry);

// Puts the verified partial file in place under the entry's local name and
// forgets its record; false (the partial file kept) when it cannot.
bool putPartialInPlace(const FetchedEntry& entry);
bool putPartialInPlace(const std::string& localName);

enum class Placed {
    inPlace,
    held,  // another program holds the file: the verified copy stays, recorded for the next start to put in place
    failed,
};

// putPartialInPlace, telling a file held by another program from other failures.
Placed placeVerifiedPartial(const FetchedEntry& entry);
