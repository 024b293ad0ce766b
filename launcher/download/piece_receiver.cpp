#include "launcher/download/piece_receiver.h"

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

void PieceReceiver::arm(unsigned long long last, bool firstAnswer)
{
    last_ = last;
    firstAnswer_ = firstAnswer;
    head_ = HeadVerdict();
    received_ = 0;
    status_ = 0;
    writeFailed_ = diskFull_ = wholeFile_ = false;
}

Fetched PieceReceiver::ended(AnswerEnd end)
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
    return pieceEnded(end);
}

Fetched PieceReceiver::pieceEnded(AnswerEnd end)
{
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

bool PieceReceiver::takeHead(const AnswerHead& answer)
{
    status_ = answer.status;
    head_ = judgeAnswerHead(answer, {entry_, last_, firstAnswer_}, partial_);
    return head_.body != HeadVerdict::Body::unwanted;
}

bool PieceReceiver::takeBody(const char* data, std::size_t size)
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

void PieceReceiver::noteWriteFailure()
{
    writeFailed_ = true;
    diskFull_ = errno == ENOSPC || volumeIsFull(partial_.name());
}
