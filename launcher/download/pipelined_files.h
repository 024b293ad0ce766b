#pragma once

#include "launcher/download/fetched_entry.h"
#include "launcher/download/file_fetch.h"
#include "launcher/http/transport.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

// Files that each come in one answer (under a signed release, those no
// larger than a piece; without keys, any, as far as the first piece goes),
// their requests pipelined on the kept connection, so that a game of many
// small files costs no round trip per file. Each file is put in place as
// soon as its answer arrived whole and verified, and `placed(i)` is called,
// in list order. The first that is not is left: a larger file begun, any
// other for a download of its own, without a partial file; if its answer
// was not what was asked for, the transport asks one at a time from then on.
// No request goes out after it, and the answers already asked for are still
// taken, until one is not placed. Nothing is asked when the transport does
// not pipeline now.
struct PipelinedFiles {
    std::size_t placed = 0;  // the leading files placed, each told through `placed`
    // The file after them, when its first piece arrived whole and more of it is to come.
    std::unique_ptr<FileFetch> begun;
    std::size_t placedAfter = 0;  // the files after that one placed meanwhile, not told
};
PipelinedFiles downloadPipelined(Transport& transport, const std::vector<FetchedEntry>& entries,
                                 unsigned long long pieceBytes, const std::function<void(std::size_t)>& placed);

// Whether the file's download may go in such a batch: one answer carries it,
// and no partial file of an earlier start waits to be resumed.
bool fitsOneAnswer(const FetchedEntry& entry, unsigned long long pieceBytes);
