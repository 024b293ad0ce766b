#pragma once

#include "launcher/console/console.h"
#include "launcher/download/fetched_entry.h"
#include "launcher/download/partial_file.h"
#include "launcher/download/piece_answer.h"
#include "launcher/http/answer.h"

#include <cstddef>

// One answer to a file's piece request, written into its partial file as it
// arrives: its head decides beforehand whether its body is wanted at all,
// and no byte past what was asked for or signed is ever written.
class PieceReceiver : public AnswerSink {
public:
    PieceReceiver(const FetchedEntry& entry, PartialFile& partial, FileProgress* progress)
        : entry_(entry), partial_(partial), progress_(progress)
    {
    }

    void showProgress(FileProgress* progress) { progress_ = progress; }
    // Ready for the answer to bytes from the partial file's offset to `last`;
    // `firstAnswer`: the download's first, or the first since it resumed.
    void arm(unsigned long long last, bool firstAnswer);
    // What came of the answer, once it ended; `Fetched::whole` means it arrived whole.
    Fetched ended(AnswerEnd end);
    // The last answer was the whole file (or said that it is empty): nothing more is asked for.
    bool wholeFile() const { return wholeFile_; }
    // The status of the last answer's head; 0 when none came.
    int status() const { return status_; }

    bool takeHead(const AnswerHead& answer) override;
    bool takeBody(const char* data, std::size_t size) override;

private:
    Fetched pieceEnded(AnswerEnd end);
    void noteWriteFailure();

    const FetchedEntry& entry_;
    PartialFile& partial_;
    FileProgress* progress_;
    unsigned long long last_ = 0;
    bool firstAnswer_ = false;
    HeadVerdict head_;
    unsigned long long received_ = 0;
    int status_ = 0;
    bool writeFailed_ = false;
    bool diskFull_ = false;  // the failed write found the volume full
    bool wholeFile_ = false;
};
