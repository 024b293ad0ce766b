#pragma once

#include "channel/release.h"
#include "launcher/download/delta_download.h"
#include "launcher/console/console.h"
#include "launcher/http/transport.h"

#include <string>

// Fetches `uri` (the manifest entry `path`) in pieces of downloadPieceBytes
// through range requests (or whole from a server that ignores ranges) into
// a partial file beside `localName`, streaming each answer into it, and puts
// it in place only when every byte arrived and their MD5 equals
// `expectedDigest` (hex, letter case ignored). With a signed entry, it also
// never asks past the signed size, reads no answer longer than that, and
// requires the signed size and SHA-256. A transfer that breaks off keeps its
// whole pieces for the next start to resume; anything untrustworthy is
// discarded. On failure the file under `localName` stays as it was.
// With `delta`, the file is first built from the chunks its old copy
// holds; any trouble there falls back to the whole download in this call.
// `progress`, when given, is shown.
bool downloadFile(Transport& transport, const std::string& uri, const std::string& path,
                  const std::string& expectedDigest, const ReleaseEntry* signedEntry, const std::string& localName,
                  const DeltaSource* delta, FileProgress* progress);

struct FetchedEntry;
// The same through any transport, in pieces of `pieceBytes`.
bool downloadThrough(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes,
                     FileProgress* progress);

// The size of one range request: what a broken transfer loses at most.
constexpr unsigned long long downloadPieceBytes = 16ULL << 20;
