#include "launcher/download/file_fetch.h"

#include "platform/platform.h"

#include <string>
#include <vector>

FileFetch::FileFetch(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes,
                     FileProgress* progress)
    : transport_(transport), entry_(entry), pieceBytes_(pieceBytes), progress_(progress), partial_(entry_),
      receiver_(entry_, partial_, progress)
{
}

Fetched FileFetch::fetch()
{
    if (entry_.signedEntry != nullptr && entry_.signedEntry->size == 0)
        return Fetched::whole;  // nothing to ask for; the digests decide
    if (partial_.total() != 0 && partial_.offset() == partial_.total())
        return Fetched::whole;  // a resumed file that is already whole: nothing past its end is asked for
    if (progress_ != nullptr)
        progress_->start(partial_.offset(), partial_.resumed());
    // The first piece alone: its answer tells the file's size, and whether the server takes ranges at all.
    Fetched fetched = fetchPiece();
    for (;;) {
        if (fetched != Fetched::whole || receiver_.wholeFile())
            return fetched;
        if (progress_ != nullptr)
            progress_->advance(partial_.offset(), partial_.total());
        if (partial_.offset() == partial_.total())
            return Fetched::whole;
        fetched = transport_.pipelines() ? fetchRestInOrder() : fetchPiece();
    }
}

unsigned long long FileFetch::lastOfPieceFrom(unsigned long long first) const
{
    const unsigned long long last = first + pieceBytes_ - 1;
    return entry_.signedEntry != nullptr && last >= entry_.signedEntry->size ? entry_.signedEntry->size - 1 : last;
}

Transport::Range FileFetch::armNextPiece()
{
    const unsigned long long last = lastOfPieceFrom(partial_.offset());
    receiver_.arm(last, partial_.total() == 0 || (partial_.resumed() && !answeredSinceResume_));
    return {entry_.uri, partial_.offset(), last, conditions()};
}

HeaderFields FileFetch::conditions() const
{
    if (partial_.condition().first.empty())
        return {};
    return {partial_.condition()};
}

Fetched FileFetch::fetchPiece()
{
    const Transport::Range piece = armNextPiece();
    return pieceEnded(transport_.ask(piece.uri, piece.first, piece.last, piece.conditions, receiver_));
}

// Every piece after the first, pipelined; `Fetched::whole` here means that
// each arrived whole, up to the file's end.
Fetched FileFetch::fetchRestInOrder()
{
    std::vector<Transport::Range> pieces;
    for (unsigned long long first = partial_.offset(); first < partial_.total(); first += pieceBytes_)
        pieces.push_back({entry_.uri, first, lastOfPieceFrom(first), conditions()});
    Fetched fetched = Fetched::whole;
    askSettlingInOrder(
        transport_, pieces,
        [&](std::size_t i) -> AnswerSink* { return armNextPiece().first == pieces[i].first ? &receiver_ : nullptr; },
        [&](std::size_t, AnswerEnd end) {
            fetched = pieceEnded(end);
            if (fetched == Fetched::whole && progress_ != nullptr && partial_.offset() < partial_.total())
                progress_->advance(partial_.offset(), partial_.total());
            return fetched == Fetched::whole;
        });
    // A transport that gave up before the last piece: what is kept is resumed by a later start.
    return fetched == Fetched::whole && partial_.offset() < partial_.total() ? brokenOrUntrusted(partial_.offset())
                                                                             : fetched;
}

Fetched FileFetch::pieceEnded(AnswerEnd end)
{
    answeredSinceResume_ = true;
    return receiver_.ended(end);
}
