#include "launcher/download/file_fetch.h"

#include "platform/platform.h"

#include <cerrno>
#include <string>

namespace {

// Less free space than this after a failed write: the write failed because the volume is full.
const unsigned long long fullVolumeBytes = 1ULL << 20;

// Not every C runtime says ENOSPC (a short write first, then another code): the volume itself tells.
bool volumeIsFull(const std::string& name)
{
    unsigned long long available = 0;
    return platform::freeDiskSpaceBeside(name, available) && available < fullVolumeBytes;
}

}  // namespace

FileFetch::FileFetch(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes,
                     FileProgress* progress)
    : transport_(transport), entry_(entry), pieceBytes_(pieceBytes), progress_(progress), partial_(entry_)
{
}

bool FileFetch::startFromZero()
{
    wholeFile_ = false;
    return partial_.startFromZero();
}

Fetched FileFetch::fetch()
{
    if (entry_.signedEntry != nullptr && entry_.signedEntry->size == 0)
        return Fetched::whole;  // nothing to ask for; the digests decide
    if (partial_.total() != 0 && partial_.offset() == partial_.total())
        return Fetched::whole;  // a resumed file that is already whole: nothing past its end is asked for
    if (progress_ != nullptr)
        progress_->start(partial_.offset(), partial_.resumed());
    for (;;) {
        const Fetched fetched = fetchPiece();
        if (fetched != Fetched::whole || wholeFile_)
            return fetched;
        if (progress_ != nullptr)
            progress_->advance(partial_.offset(), partial_.total());
        if (partial_.offset() == partial_.total())
            return Fetched::whole;
    }
}

// Asks for the next piece; `Fetched::whole` here means this answer arrived whole.
Fetched FileFetch::fetchPiece()
{
    pieceLast_ = partial_.offset() + pieceBytes_ - 1;
    if (entry_.signedEntry != nullptr && pieceLast_ >= entry_.signedEntry->size)
        pieceLast_ = entry_.signedEntry->size - 1;
    firstAnswer_ = partial_.total() == 0 || (partial_.resumed() && !answeredSinceResume_);
    HeaderFields conditions;
    if (!partial_.condition().first.empty())
        conditions.push_back(partial_.condition());
    head_ = HeadVerdict();
    received_ = 0;
    writeFailed_ = diskFull_ = false;
    const AnswerEnd end = transport_.ask(entry_.uri, partial_.offset(), pieceLast_, conditions, *this);
    answeredSinceResume_ = true;
    return pieceEnded(end);
}

Fetched FileFetch::pieceEnded(AnswerEnd end)
{
    switch (head_.body) {
    case HeadVerdict::Body::unwanted:
        wholeFile_ = head_.fetched == Fetched::whole;  // an empty file, told by a 416
        return end == AnswerEnd::stopped ? head_.fetched : brokenOrUntrusted(partial_.offset());
    case HeadVerdict::Body::wholeFile:
        // Whole or nothing: a whole-file answer that breaks off has no record to resume from.
        wholeFile_ = true;
        if (diskFull_)
            return Fetched::diskFull;
        return end == AnswerEnd::complete && !writeFailed_ &&
                       (head_.bodyBytes == unknownLength || received_ == head_.bodyBytes)
                   ? Fetched::whole
                   : Fetched::untrusted;
    case HeadVerdict::Body::piece:
        break;
    }
    if (!writeFailed_ && end == AnswerEnd::complete && received_ == head_.bodyBytes && !partial_.keepPiece(received_))
        noteWriteFailure();
    if (writeFailed_ && !diskFull_)
        return Fetched::untrusted;
    if (diskFull_) {
        partial_.cutBack();  // the pieces before this one are whole: a later start resumes after them
        return Fetched::diskFull;
    }
    if (end != AnswerEnd::complete || received_ != head_.bodyBytes) {
        partial_.cutBack();
        return brokenOrUntrusted(partial_.offset());
    }
    return Fetched::whole;
}

bool FileFetch::takeHead(const AnswerHead& answer)
{
    head_ = judgeAnswerHead(answer, {entry_, pieceLast_, firstAnswer_}, partial_);
    return head_.body != HeadVerdict::Body::unwanted;
}

bool FileFetch::takeBody(const char* data, std::size_t size)
{
    if (size > head_.bodyBytes - received_) {
        received_ = head_.bodyBytes + 1;  // more than was asked for or signed: never written
        return false;
    }
    const bool written = partial_.write(data, size);
    received_ += size;
    if (!written) {
        noteWriteFailure();
        return false;
    }
    // Per buffer, not per piece: on a slow line a piece takes many seconds.
    const unsigned long long total = head_.body == HeadVerdict::Body::piece ? partial_.total() : head_.bodyBytes;
    if (progress_ != nullptr && total != unknownLength)
        progress_->advance(partial_.offset() + received_, total);
    return true;
}

void FileFetch::noteWriteFailure()
{
    writeFailed_ = true;
    diskFull_ = errno == ENOSPC || volumeIsFull(partial_.name());
}
