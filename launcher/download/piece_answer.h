#pragma once

#include "launcher/download/fetched_entry.h"
#include "launcher/download/partial_file.h"
#include "launcher/http/answer.h"

#include <limits>

enum class Fetched {
    whole,      // every byte is in the file
    broken,     // the transfer broke off: the whole pieces written may be resumed
    untrusted,  // an answer that cannot be trusted: nothing kept
    restart,    // the resumed file changed on the server: start from zero
    diskFull,   // a write found the volume full: the whole pieces written are kept
};

// A failure once whole pieces are kept is a break, which a later start
// resumes; before any, nothing is worth keeping.
inline Fetched brokenOrUntrusted(unsigned long long offset)
{
    return offset > 0 ? Fetched::broken : Fetched::untrusted;
}

// A body that runs until the server closes (or its last chunk): its end is its length.
inline constexpr unsigned long long unknownLength = std::numeric_limits<unsigned long long>::max();

// What the head of an answer says its body is.
struct HeadVerdict {
    enum class Body { unwanted, wholeFile, piece };
    Body body = Body::unwanted;
    Fetched fetched = Fetched::untrusted;  // what came of the request, when the body is unwanted
    unsigned long long bodyBytes = 0;      // when it is wanted; unknownLength when the server did not say
};

// The request the answer is to: bytes from the partial file's offset to `last`.
struct PieceRequest {
    const FetchedEntry& entry;
    unsigned long long last;
    bool firstAnswer;  // the download's first, or the first since it resumed
};

// Decides from the head alone whether the answer's body is the piece asked
// for, of the file that the earlier pieces came from, or the whole file (to
// the first request, or to a resumed one from a server that ignores ranges:
// the partial file then starts from zero), or none of what was asked. The
// first piece's answer is recorded in `partial` for a later start.
HeadVerdict judgeAnswerHead(const AnswerHead& answer, const PieceRequest& request, PartialFile& partial);
