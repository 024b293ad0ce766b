#pragma once

#include "digest/streaming_digests.h"
#include "channel/release.h"
#include "launcher/console/console.h"
#include "launcher/download/fetched_entry.h"
#include "launcher/http/transport.h"

#include <fstream>
#include <string>
#include <utility>

enum class Fetched {
    whole,      // every byte is in the file
    broken,     // the transfer broke off: the whole pieces written may be resumed
    untrusted,  // an answer that cannot be trusted: nothing kept
    restart,    // the resumed file changed on the server: start from zero
};

// One file being fetched into its partial file through a transport: the
// bytes written so far and their digests, the record that lets a broken
// download resume, and the progress shown on a console. Each answer streams
// into the file as it arrives; its head decides beforehand whether its body
// is wanted at all.
class FileFetch : private AnswerSink {
public:
    FileFetch(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes,
              FileProgress* progress);

    // Continues a partial file left by a broken download, when its record
    // still describes this entry: keeps its whole pieces and hashes them again.
    bool resume();
    // Starts with an empty partial file; false when it cannot be written.
    bool startFromZero();
    bool resumed() const { return resumed_; }

    // Asks for the pieces still missing.
    Fetched fetch();

    // Closes the partial file; true when it holds the expected bytes.
    bool verified();
    void close() { file_.close(); }

private:
    // What the head of the current answer said its body is.
    enum class Body { unwanted, wholeFile, piece };

    Fetched fetchPiece();
    Fetched brokenOrUntrusted() const { return offset_ > 0 ? Fetched::broken : Fetched::untrusted; }
    bool takeHead(const AnswerHead& answer) override;
    Fetched judgeHead(const AnswerHead& answer);
    Fetched judgePiece(const AnswerHead& answer);
    Fetched judgeWholeFile(bool hasLength, unsigned long long declared);
    bool takeBody(const char* data, std::size_t size) override;
    bool hashKeptBytes(unsigned long long kept);

    Transport& transport_;
    FetchedEntry entry_;
    unsigned long long pieceBytes_;
    std::string partialName_;
    FileProgress* progress_;
    std::ofstream file_;
    StreamingDigests digests_;
    unsigned long long offset_ = 0;
    unsigned long long total_ = 0;
    std::pair<std::string, std::string> condition_;
    bool resumed_ = false;
    bool answeredSinceResume_ = false;
    bool wholeFile_ = false;

    // The answer being read.
    unsigned long long pieceLast_ = 0;
    bool firstAnswer_ = false;
    Body body_ = Body::unwanted;
    Fetched verdict_ = Fetched::untrusted;
    unsigned long long expectedBytes_ = 0;
    unsigned long long received_ = 0;
    bool writeFailed_ = false;
};
