#pragma once

#include "launcher/download/delta_download.h"
#include "launcher/download/fetched_entry.h"
#include "launcher/download/file_fetch.h"
#include "launcher/console/console.h"
#include "launcher/http/transport.h"

// Fetches the entry's uri in pieces of downloadPieceBytes through range
// requests (or whole from a server that ignores ranges) into a partial file
// beside its local name, streaming each answer into it, and puts it in place
// only when every byte arrived and their MD5 equals its expected digest (hex,
// letter case ignored). With a signed entry, it also never asks past the
// signed size, reads no answer longer than that, and requires the signed
// size and SHA-256. A transfer that breaks off keeps its whole pieces for the
// next start to resume; anything untrustworthy is discarded. On failure the
// file under its local name stays as it was.
// With `delta`, the file is first built from the chunks its old copy
// holds; any trouble there falls back to the whole download in this call.
// `progress`, when given, is shown.
// A verified file that another program holds is kept for the next start
// (Downloaded::held); a full volume keeps the whole pieces (diskFull).
enum class Downloaded { placed, failed, held, diskFull };
Downloaded downloadFile(Transport& transport, const FetchedEntry& entry, const DeltaSource* delta,
                        FileProgress* progress);

// The same without a delta, through any transport, in pieces of `pieceBytes`.
Downloaded downloadThrough(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes,
                           FileProgress* progress);

// The rest of a download already begun: its missing pieces, then the same
// checks and restart as downloadThrough; `progress` is shown from here on.
Downloaded finishDownload(FileFetch& fetch, const FetchedEntry& entry, FileProgress* progress);

// The size of one range request: what a broken transfer loses at most.
constexpr unsigned long long downloadPieceBytes = 16ULL << 20;
