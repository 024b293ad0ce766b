#include "launcher/download/file_fetch.h"

#include "launcher/download/range_answer.h"
#include "launcher/http/http_fields.h"
#include "launcher/download/partial_download.h"
#include "platform/platform.h"

#include <limits>

namespace {

const int ok = 200;
const int partialContent = 206;
const int preconditionFailed = 412;
const int rangeNotSatisfiable = 416;
// A body that runs until the server closes (or its last chunk): its end is its length.
const unsigned long long unknownLength = std::numeric_limits<unsigned long long>::max();

// Without keys the server's claim is all there is to go by: a file that
// cannot fit is refused before a byte of it is kept. When the free space
// cannot be told, the write itself fails if the disk fills.
bool fitsOnDisk(const std::string& name, unsigned long long bytes)
{
    const std::string::size_type slash = name.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : name.substr(0, slash + 1);
    unsigned long long available = 0;
    return !platform::freeDiskSpace(directory.c_str(), available) || bytes <= available;
}

}  // namespace

FileFetch::FileFetch(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes,
                     FileProgress* progress)
    : transport_(transport), entry_(entry), pieceBytes_(pieceBytes), partialName_(partialNameFor(entry.localName)),
      progress_(progress), digests_(digestsFor(entry))
{
}

bool FileFetch::resume()
{
    ResumeRecord record;
    platform::FileFacts facts;
    if (!readResumeRecord(entry_.localName, record) || !describes(record, entry_) ||
        !platform::fileFacts(partialName_, facts))
        return false;
    // Killed between its last write and the rename, a partial file is already whole.
    const unsigned long long kept = facts.size >= record.total ? record.total : facts.size / pieceBytes_ * pieceBytes_;
    if (kept == 0 || !platform::truncateFile(partialName_, kept) || !hashKeptBytes(kept))
        return false;
    platform::openForAppending(file_, partialName_);
    if (!file_)
        return false;
    offset_ = kept;
    total_ = record.total;
    // The server answers 412 instead of other bytes when its file changed since.
    if (record.validatorField == "ETag")
        condition_ = {"If-Match", record.validator};
    else if (record.validatorField == "Last-Modified")
        condition_ = {"If-Unmodified-Since", record.validator};
    resumed_ = true;
    return true;
}

bool FileFetch::startFromZero()
{
    file_.close();
    discardPartial(entry_.localName);
    platform::openForWriting(file_, partialName_);
    digests_ = StreamingDigests(digestsFor(entry_));
    offset_ = total_ = 0;
    condition_ = {};
    resumed_ = false;
    wholeFile_ = false;
    return static_cast<bool>(file_);
}

Fetched FileFetch::fetch()
{
    if (entry_.signedEntry != nullptr && entry_.signedEntry->size == 0)
        return Fetched::whole;  // nothing to ask for; the digests decide
    if (total_ != 0 && offset_ == total_)
        return Fetched::whole;  // a resumed file that is already whole: nothing past its end is asked for
    if (progress_ != nullptr)
        progress_->start(offset_, resumed_);
    for (;;) {
        const Fetched fetched = fetchPiece();
        if (fetched != Fetched::whole || wholeFile_)
            return fetched;
        if (progress_ != nullptr)
            progress_->advance(offset_, total_);
        if (offset_ == total_)
            return Fetched::whole;
    }
}

bool FileFetch::verified()
{
    file_.close();
    return !file_.fail() && holdsEntry(digests_, entry_);
}

// Asks for the next piece; `Fetched::whole` here means this answer arrived whole.
Fetched FileFetch::fetchPiece()
{
    pieceLast_ = offset_ + pieceBytes_ - 1;
    if (entry_.signedEntry != nullptr && pieceLast_ >= entry_.signedEntry->size)
        pieceLast_ = entry_.signedEntry->size - 1;
    firstAnswer_ = total_ == 0 || (resumed_ && !answeredSinceResume_);
    HeaderFields conditions;
    if (!condition_.first.empty())
        conditions.push_back(condition_);
    body_ = Body::unwanted;
    verdict_ = Fetched::untrusted;
    received_ = 0;
    writeFailed_ = false;
    const AnswerEnd end = transport_.ask(entry_.uri, offset_, pieceLast_, conditions, *this);
    answeredSinceResume_ = true;
    switch (body_) {
    case Body::unwanted:
        wholeFile_ = verdict_ == Fetched::whole;  // an empty file, told by a 416
        return end == AnswerEnd::stopped ? verdict_ : brokenOrUntrusted();
    case Body::wholeFile:
        // Whole or nothing: a whole-file answer that breaks off has no record to resume from.
        wholeFile_ = true;
        return end == AnswerEnd::complete && !writeFailed_ &&
                       (expectedBytes_ == unknownLength || received_ == expectedBytes_)
                   ? Fetched::whole
                   : Fetched::untrusted;
    case Body::piece:
        break;
    }
    if (writeFailed_)
        return Fetched::untrusted;
    if (end != AnswerEnd::complete || received_ != expectedBytes_) {
        // Only whole pieces are kept: a cut one is cut off the file again.
        file_.close();
        platform::truncateFile(partialName_, offset_);
        return brokenOrUntrusted();
    }
    // Each piece reaches the file before the next is asked for: a kill keeps whole pieces.
    file_.flush();
    offset_ += received_;
    return file_ ? Fetched::whole : Fetched::untrusted;
}

bool FileFetch::takeHead(const AnswerHead& answer)
{
    verdict_ = judgeHead(answer);
    return body_ != Body::unwanted;
}

// Decides from the head alone what the answer's body is, and sets `verdict_` when it is not wanted.
Fetched FileFetch::judgeHead(const AnswerHead& answer)
{
    unsigned long long declared = 0;
    const bool hasLength = !answer.contentLength.empty();
    if (hasLength && !parseContentLength(answer.contentLength, declared))
        return brokenOrUntrusted();
    if (answer.status == ok)
        return judgeWholeFile(hasLength, declared);
    if (answer.status == preconditionFailed && resumed_)
        return Fetched::restart;  // the file changed on the server since the pieces kept
    ContentRange range;
    if (offset_ == 0 && answer.status == rangeNotSatisfiable)
        return parseContentRange(answer.contentRange, range) && !range.satisfied && range.total == 0
                   ? Fetched::whole  // an empty file: nothing to write
                   : Fetched::untrusted;
    return judgePiece(answer);
}

// A 206: the piece asked for, of the file that the earlier pieces came from.
Fetched FileFetch::judgePiece(const AnswerHead& answer)
{
    ContentRange range;
    if (answer.status != partialContent || !parseContentRange(answer.contentRange, range) || !range.satisfied ||
        range.first != offset_ || (entry_.signedEntry != nullptr && range.total != entry_.signedEntry->size))
        return brokenOrUntrusted();
    if (total_ != 0 && range.total != total_)
        return resumed_ && firstAnswer_ ? Fetched::restart : Fetched::untrusted;
    // The whole range asked for, or up to the end: a server that gives less could drag one file out forever.
    const unsigned long long last = pieceLast_ < range.total ? pieceLast_ : range.total - 1;
    if (!isRangeAnswer(answer, offset_, last, range.total))
        return brokenOrUntrusted();
    if (total_ == 0) {
        if (entry_.signedEntry == nullptr && !fitsOnDisk(partialName_, range.total - range.first))
            return Fetched::untrusted;
        total_ = range.total;
        ResumeRecord record{entry_.path, entry_.expectedDigest, total_, "", ""};
        if (!answer.etag.empty())
            record.validatorField = "ETag", record.validator = answer.etag;
        else if (!answer.lastModified.empty())
            record.validatorField = "Last-Modified", record.validator = answer.lastModified;
        writeResumeRecord(entry_.localName, record);
    }
    expectedBytes_ = range.last - range.first + 1;
    body_ = Body::piece;
    return Fetched::whole;
}

// A 200 is the whole file, taken from zero: to the first request, or to a
// resumed one from a server that ignores ranges.
Fetched FileFetch::judgeWholeFile(bool hasLength, unsigned long long declared)
{
    if (offset_ > 0 && (!(resumed_ && firstAnswer_) || !startFromZero()))
        return Fetched::untrusted;
    if (entry_.signedEntry != nullptr) {
        if (hasLength && declared != entry_.signedEntry->size)
            return Fetched::untrusted;
        hasLength = true;
        declared = entry_.signedEntry->size;  // never read past the signed size
    } else if (hasLength && !fitsOnDisk(partialName_, declared))
        return Fetched::untrusted;
    expectedBytes_ = hasLength ? declared : unknownLength;
    body_ = Body::wholeFile;
    return Fetched::whole;
}

bool FileFetch::takeBody(const char* data, std::size_t size)
{
    if (size > expectedBytes_ - received_) {
        received_ = expectedBytes_ + 1;  // more than was asked for or signed: never written
        return false;
    }
    digests_.add(data, size);
    file_.write(data, static_cast<std::streamsize>(size));
    received_ += size;
    if (!file_) {
        writeFailed_ = true;
        return false;
    }
    // Per buffer, not per piece: on a slow line a piece takes many seconds.
    const unsigned long long total = body_ == Body::piece ? total_ : expectedBytes_;
    if (progress_ != nullptr && total != unknownLength)
        progress_->advance(offset_ + received_, total);
    return true;
}

bool FileFetch::hashKeptBytes(unsigned long long kept)
{
    std::ifstream in;
    platform::openForReading(in, partialName_);
    return addFromStream(digests_, in, kept);
}
