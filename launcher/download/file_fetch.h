#pragma once

#include "launcher/console/console.h"
#include "launcher/download/fetched_entry.h"
#include "launcher/download/partial_file.h"
#include "launcher/download/piece_answer.h"
#include "launcher/download/piece_receiver.h"
#include "launcher/http/transport.h"

// One file being fetched into its partial file through a transport, piece
// by piece, with the progress shown on a console. Each answer streams into
// the file as it arrives (see PieceReceiver).
class FileFetch {
public:
    FileFetch(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes, FileProgress* progress);

    // Continues a partial file left by a broken download, when its record
    // still describes this entry: keeps its whole pieces and hashes them again.
    bool resume() { return partial_.resume(pieceBytes_); }
    // Starts with an empty partial file; false when it cannot be written.
    bool startFromZero() { return partial_.startFromZero(); }
    bool resumed() const { return partial_.resumed(); }
    // The bytes of whole pieces in the partial file, which a later start resumes from.
    unsigned long long keptBytes() const { return partial_.offset(); }

    // Shows the progress from here on (nullptr: none).
    void showProgress(FileProgress* progress)
    {
        progress_ = progress;
        receiver_.showProgress(progress);
    }

    // Asks for the pieces still missing: after the first, pipelined where the transport pipelines.
    Fetched fetch();

    // For a caller that asks for this file's next piece itself, among other
    // requests: the request to send, whose answer goes to answerSink(), and
    // then what came of it (`Fetched::whole`: this answer arrived whole).
    Transport::Range armNextPiece();
    AnswerSink& answerSink() { return receiver_; }
    Fetched pieceEnded(AnswerEnd end);
    // Every byte arrived (the partial file may still fail its digests).
    bool complete() const
    {
        return receiver_.wholeFile() || (partial_.total() != 0 && partial_.offset() == partial_.total());
    }
    // The status of the last answer's head; 0 when none came.
    int answerStatus() const { return receiver_.status(); }

    // Closes the partial file; true when it holds the expected bytes.
    bool verified() { return partial_.verified(); }
    void close() { partial_.close(); }

private:
    Fetched fetchPiece();
    Fetched fetchRestInOrder();
    unsigned long long lastOfPieceFrom(unsigned long long first) const;
    HeaderFields conditions() const;

    Transport& transport_;
    FetchedEntry entry_;
    unsigned long long pieceBytes_;
    FileProgress* progress_;
    PartialFile partial_;
    PieceReceiver receiver_;
    bool answeredSinceResume_ = false;
};
