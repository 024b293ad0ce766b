#pragma once

#include "digest/streaming_digests.h"
#include "launcher/download/fetched_entry.h"
#include "launcher/http/answer.h"

#include <cstddef>
#include <fstream>
#include <string>
#include <utility>

// The partial file a download writes its pieces into, the digests of all
// its bytes, and the record of what they are part of, so that a download
// broken off resumes on the next start.
class PartialFile {
public:
    explicit PartialFile(const FetchedEntry& entry);

    // Continues the partial file left by a broken download, when its record
    // still describes this entry: keeps its whole pieces of `pieceBytes` and
    // hashes them again.
    bool resume(unsigned long long pieceBytes);
    // Starts it empty; false when it cannot be written.
    bool startFromZero();
    bool resumed() const { return resumed_; }

    // The first piece's answer gives the file's size and the validator under
    // which the server refuses the rest of another version: recorded for a
    // later start to resume from.
    void recordTotal(unsigned long long total, const AnswerHead& answer);

    bool write(const char* data, std::size_t size);
    // A piece of `bytes` arrived whole: it reaches the file before the next
    // is asked for, so that a kill keeps whole pieces.
    bool keepPiece(unsigned long long bytes);
    // Only whole pieces are kept: a piece cut short is cut off the file again.
    void cutBack();

    // Closes the file; true when it holds the entry's bytes.
    bool verified();
    void close() { file_.close(); }

    const std::string& name() const { return name_; }
    unsigned long long offset() const { return offset_; }  // of the first byte after the whole pieces
    unsigned long long total() const { return total_; }    // the file's size; 0 until a piece gave it
    // The field under which the server answers 412 instead of other bytes when its file changed since.
    const std::pair<std::string, std::string>& condition() const { return condition_; }

private:
    bool hashKeptBytes(unsigned long long kept);

    const FetchedEntry& entry_;
    std::string name_;
    std::ofstream file_;
    StreamingDigests digests_;
    unsigned long long offset_ = 0;
    unsigned long long total_ = 0;
    std::pair<std::string, std::string> condition_;
    bool resumed_ = false;
};
