#include "launcher/download/piece_answer.h"

#include "launcher/download/range_answer.h"
#include "launcher/http/http_fields.h"
#include "platform/platform.h"

#include <string>

namespace {

const int ok = 200;
const int partialContent = 206;
const int preconditionFailed = 412;
const int rangeNotSatisfiable = 416;

HeadVerdict unwanted(Fetched fetched)
{
    return {HeadVerdict::Body::unwanted, fetched, 0};
}

// Without keys the server's claim is all there is to go by: a file that
// cannot fit is refused before a byte of it is kept. When the free space
// cannot be told, the write itself fails if the disk fills.
bool fitsOnDisk(const std::string& name, unsigned long long bytes)
{
    unsigned long long available = 0;
    return !platform::freeDiskSpaceBeside(name, available) || bytes <= available;
}

// A 206: the piece asked for, of the file that the earlier pieces came from.
HeadVerdict judgePiece(const AnswerHead& answer, const PieceRequest& request, PartialFile& partial)
{
    const ReleaseEntry* signedEntry = request.entry.signedEntry;
    const unsigned long long offset = partial.offset();
    ContentRange range;
    if (answer.status != partialContent || !parseContentRange(answer.contentRange, range) || !range.satisfied ||
        range.first != offset || (signedEntry != nullptr && range.total != signedEntry->size))
        return unwanted(brokenOrUntrusted(offset));
    if (partial.total() != 0 && range.total != partial.total())
        return unwanted(partial.resumed() && request.firstAnswer ? Fetched::restart : Fetched::untrusted);
    // The whole range asked for, or up to the end: a server that gives less could drag one file out forever.
    const unsigned long long last = request.last < range.total ? request.last : range.total - 1;
    if (!isRangeAnswer(answer, offset, last, range.total))
        return unwanted(brokenOrUntrusted(offset));
    if (partial.total() == 0) {
        if (signedEntry == nullptr && !fitsOnDisk(partial.name(), range.total - range.first))
            return unwanted(Fetched::untrusted);
        partial.recordTotal(range.total, answer);
    }
    return {HeadVerdict::Body::piece, Fetched::whole, range.last - range.first + 1};
}

// A 200 is the whole file, taken from zero: to the first request, or to a
// resumed one from a server that ignores ranges.
HeadVerdict judgeWholeFile(bool hasLength, unsigned long long declared, const PieceRequest& request,
                           PartialFile& partial)
{
    if (partial.offset() > 0 && (!(partial.resumed() && request.firstAnswer) || !partial.startFromZero()))
        return unwanted(Fetched::untrusted);
    const ReleaseEntry* signedEntry = request.entry.signedEntry;
    if (signedEntry != nullptr) {
        if (hasLength && declared != signedEntry->size)
            return unwanted(Fetched::untrusted);
        hasLength = true;
        declared = signedEntry->size;  // never read past the signed size
    } else if (hasLength && !fitsOnDisk(partial.name(), declared))
        return unwanted(Fetched::untrusted);
    return {HeadVerdict::Body::wholeFile, Fetched::whole, hasLength ? declared : unknownLength};
}

}  // namespace

HeadVerdict judgeAnswerHead(const AnswerHead& answer, const PieceRequest& request, PartialFile& partial)
{
    unsigned long long declared = 0;
    const bool hasLength = !answer.contentLength.empty();
    if (hasLength && !parseContentLength(answer.contentLength, declared))
        return unwanted(brokenOrUntrusted(partial.offset()));
    if (answer.status == ok)
        return judgeWholeFile(hasLength, declared, request, partial);
    if (answer.status == preconditionFailed && partial.resumed())
        return unwanted(Fetched::restart);  // the file changed on the server since the pieces kept
    ContentRange range;
    if (partial.offset() == 0 && answer.status == rangeNotSatisfiable)
        return unwanted(parseContentRange(answer.contentRange, range) && !range.satisfied && range.total == 0
                            ? Fetched::whole  // an empty file: nothing to write
                            : Fetched::untrusted);
    return judgePiece(answer, request, partial);
}
