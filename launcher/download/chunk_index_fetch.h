#pragma once

#include "channel/chunk_index.h"
#include "channel/release.h"
#include "launcher/download/delta_download.h"
#include "launcher/http/transport.h"

// The source's chunk index, fetched within its signed size and taken only
// when its signed SHA-256 holds and it describes the very file that
// `signedFile` signs.
bool fetchChunkIndex(Transport& transport, const DeltaSource& source, const ReleaseEntry& signedFile,
                     ChunkIndex& index);
