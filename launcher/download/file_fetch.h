#pragma once

#include "launcher/console/console.h"
#include "launcher/download/fetched_entry.h"
#include "launcher/download/partial_file.h"
#include "launcher/download/piece_answer.h"
#include "launcher/http/transport.h"

#include <cstddef>

// One file being fetched into its partial file through a transport, piece
// by piece, with the progress shown on a console. Each answer streams into
// the file as it arrives; its head decides beforehand whether its body is
// wanted at all.
class FileFetch : private AnswerSink {
public:
    FileFetch(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes, FileProgress* progress);

    // Continues a partial file left by a broken download, when its record
    // still describes this entry: keeps its whole pieces and hashes them again.
    bool resume() { return partial_.resume(pieceBytes_); }
    // Starts with an empty partial file; false when it cannot be written.
    bool startFromZero();
    bool resumed() const { return partial_.resumed(); }
    // The bytes of whole pieces in the partial file, which a later start resumes from.
    unsigned long long keptBytes() const { return partial_.offset(); }

    // Asks for the pieces still missing.
    Fetched fetch();

    // Closes the partial file; true when it holds the expected bytes.
    bool verified() { return partial_.verified(); }
    void close() { partial_.close(); }

private:
    Fetched fetchPiece();
    Fetched pieceEnded(AnswerEnd end);
    void noteWriteFailure();
    bool takeHead(const AnswerHead& answer) override;
    bool takeBody(const char* data, std::size_t size) override;

    Transport& transport_;
    FetchedEntry entry_;
    unsigned long long pieceBytes_;
    FileProgress* progress_;
    PartialFile partial_;
    bool answeredSinceResume_ = false;
    bool wholeFile_ = false;

    // The answer being read.
    unsigned long long pieceLast_ = 0;
    bool firstAnswer_ = false;
    HeadVerdict head_;
    unsigned long long received_ = 0;
    bool writeFailed_ = false;
    bool diskFull_ = false;  // the failed write found the volume full
};
