#include "launcher/delta_download.h"

#include "channel/chunk_index.h"
#include "digest/streaming_digests.h"
#include "digest/sha256.h"
#include "launcher/delta_plan.h"
#include "launcher/file_chunks.h"
#include "launcher/http_fields.h"
#include "launcher/partial_download.h"
#include "launcher/platform/platform.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

const int partialContent = 206;
const unsigned long long endOfFile = ~0ULL;

// One delta download: the index, where the old copy holds each chunk, and
// the partial file being built, which only ever receives checked chunks.
class DeltaFetch : private AnswerSink {
public:
    DeltaFetch(Transport& transport, const FetchedEntry& entry, const DeltaSource& source,
               unsigned long long pieceBytes, FileProgress* progress)
        : transport_(transport), entry_(entry), source_(source), pieceBytes_(pieceBytes), progress_(progress),
          partialName_(partialNameFor(entry.localName)), digests_(true)
    {
    }

    DeltaResult run();

private:
    bool readOldCopy();
    bool fetchIndex();
    void keepVerifiedPrefix();
    bool startPartial();
    bool findHeldChunks(platform::FileReader& old);
    bool isNear(std::size_t chunk) const;
    bool catchUpTo(std::size_t chunk);
    bool copyChunks(const DeltaStep& step);
    bool fetchChunks(const DeltaStep& step);
    bool write(const char* data, std::size_t size);
    bool appendChunk(const char* data, std::size_t size);
    bool takeHead(const AnswerHead& answer) override;
    bool takeBody(const char* data, std::size_t size) override;

    Transport& transport_;
    const FetchedEntry& entry_;
    const DeltaSource& source_;
    unsigned long long pieceBytes_;
    FileProgress* progress_;
    std::string partialName_;
    ChunkIndex index_;
    std::vector<unsigned long long> heldAt_;
    std::ofstream file_;
    StreamingDigests digests_;
    std::size_t nextChunk_ = 0;        // the first chunk not yet in the partial file
    unsigned long long fetchedBytes_ = 0;
    unsigned long long written_ = 0;   // its bytes
    std::vector<char> chunk_;          // one chunk being read or received

    // The range being received.
    const DeltaStep* step_ = nullptr;
    std::size_t received_ = 0;  // of the current chunk
    bool headTaken_ = false;
    bool wrongBytes_ = false;
};

DeltaResult DeltaFetch::run()
{
    if (!readOldCopy())
        return DeltaResult::fallBack;
    const std::vector<DeltaStep> steps =
        planDelta(index_.chunks, heldAt_, nextChunk_, written_, index_.chunks.size(), deltaMergeGapBytes, pieceBytes_);
    if (progress_ != nullptr) {
        unsigned long long fetching = fetchedBytes_;
        for (const DeltaStep& step : steps)
            fetching += step.fetched ? step.bytes : 0;
        progress_->startDelta(written_, index_.fileSize, index_.fileSize - fetching, fetching);
    }
    for (const DeltaStep& step : steps) {
        if (!(step.fetched ? fetchChunks(step) : copyChunks(step)))
            return DeltaResult::fallBack;  // the verified chunks stay for the whole download to resume from
        file_.flush();
        if (progress_ != nullptr)
            progress_->advance(written_, index_.fileSize);
    }
    file_.close();
    const bool verified = !file_.fail() && written_ == entry_.signedEntry->size &&
                          sameHexDigest(digests_.md5Hex(), entry_.expectedDigest) &&
                          digests_.sha256Hex() == entry_.signedEntry->sha256;
    if (!verified) {
        // Bytes copied from an old copy that changed meanwhile: nothing of it is kept.
        discardPartial(entry_.localName);
        return DeltaResult::fallBack;
    }
    if (!platform::replaceFile(partialName_.c_str(), entry_.localName.c_str()))
        return DeltaResult::failed;
    discardPartial(entry_.localName);
    return DeltaResult::placed;
}

// The index, the verified prefix of a partial file, and the old copy cut
// (and, while it is read, the new file built as far as it goes). The old
// copy is closed on return, before the rename: Windows cannot replace a
// file that is open.
bool DeltaFetch::readOldCopy()
{
    platform::FileFacts facts;
    platform::FileReader old;
    // Without an old copy nothing is reused: the whole download asks for the
    // same bytes without the index, and resumes a partial file on its own.
    if (!platform::fileFacts(source_.oldCopy, facts) || entry_.signedEntry == nullptr || !old.open(source_.oldCopy) ||
        !fetchIndex() || !mayShareChunks(old, facts.size, index_))
        return false;
    keepVerifiedPrefix();
    return startPartial() && findHeldChunks(old);
}

bool DeltaFetch::fetchIndex()
{
    const ReleaseEntry& signedIndex = source_.index;
    if (signedIndex.size == 0 || signedIndex.size > largestChunkIndexBytes)
        return false;
    TextAnswer answer(static_cast<std::size_t>(signedIndex.size));
    answer.body.reserve(static_cast<std::size_t>(signedIndex.size));
    const AnswerEnd end = transport_.ask(source_.indexUri, 0, signedIndex.size - 1, {}, answer);
    if (end != AnswerEnd::complete || answer.overflowed || answer.body.size() != signedIndex.size ||
        (answer.head.status != 200 && answer.head.status != partialContent) ||
        sha256Hex(answer.body) != signedIndex.sha256 || !parseChunkIndex(answer.body, index_))
        return false;
    // The index must describe the very file that the release signs.
    return index_.fileSize == entry_.signedEntry->size && index_.fileSha256 == entry_.signedEntry->sha256;
}

// A partial file left by a broken download of this file keeps the chunks
// that its first bytes still give, in order; they are hashed into the digests.
void DeltaFetch::keepVerifiedPrefix()
{
    ResumeRecord record;
    platform::FileReader partial;
    if (!readResumeRecord(entry_.localName, record) || record.path != entry_.path ||
        !sameHexDigest(record.digest, entry_.expectedDigest) || record.total != entry_.signedEntry->size ||
        !partial.open(partialName_))
        return;
    for (; nextChunk_ < index_.chunks.size(); ++nextChunk_) {
        const Chunk& chunk = index_.chunks[nextChunk_];
        chunk_.resize(chunk.length);
        if (!partial.readAt(written_, chunk_.data(), chunk.length) ||
            chunkHashOf(reinterpret_cast<const unsigned char*>(chunk_.data()), chunk.length) != chunk.hash)
            break;
        digests_.add(chunk_.data(), chunk.length);
        written_ += chunk.length;
    }
}

// Continues the partial file after its verified chunks, or starts it, with
// the record that lets the next start (or the whole download) resume it.
bool DeltaFetch::startPartial()
{
    if (written_ == 0) {
        discardPartial(entry_.localName);
        platform::openForWriting(file_, partialName_);
    } else if (platform::truncateFile(partialName_, written_)) {
        platform::openForAppending(file_, partialName_);
    }
    return file_.is_open() &&
           writeResumeRecord(entry_.localName, {entry_.path, entry_.expectedDigest, entry_.signedEntry->size, "", ""});
}

// Cuts the old copy with the index's parameters and notes where it holds
// each chunk still missing. Its chunks that are the new file's next ones go
// straight into the partial file, so that the common updates (a part
// changed, inserted or appended) read the old copy once and build the new
// file while it is read. False when the old copy cannot be read, or a
// fetch on the way fails.
bool DeltaFetch::findHeldChunks(platform::FileReader& old)
{
    const std::vector<Chunk>& chunks = index_.chunks;
    heldAt_.assign(chunks.size(), notHeldLocally);
    const ChunkLookup lookup(chunks, nextChunk_);
    bool troubled = false;
    cutFile(old, 0, endOfFile, index_.parameters,
            [&](const Chunk& found, unsigned long long at, const ChunkBytes& bytes) {
                if (nextChunk_ == chunks.size())
                    return false;  // the new file is whole: the rest of the old copy is not needed
                std::size_t next = chunks.size();
                std::size_t equal = 0;
                lookup.forEachEqual(found, [&](std::size_t i) {
                    ++equal;
                    next = i >= nextChunk_ && i < next ? i : next;
                });
                // The new file's next chunk; or, after a change, one a little further
                // on that only this chunk equals: the ones between are caught up now.
                if (next < chunks.size() && (next == nextChunk_ || (equal == 1 && isNear(next)))) {
                    if (next > nextChunk_ && !catchUpTo(next)) {
                        troubled = true;
                        return false;
                    }
                    ++nextChunk_;
                    write(bytes.carried, bytes.carriedSize);
                    write(bytes.rest, bytes.restSize);
                }
                lookup.forEachEqual(found, [&](std::size_t i) {
                    if (i >= nextChunk_ && heldAt_[i] == notHeldLocally)
                        heldAt_[i] = at;
                });
                return static_cast<bool>(file_);
            });
    if (troubled)
        return false;
    return static_cast<bool>(file_);
}

// Whether a chunk lies close enough after the next one to catch up with it in one request.
bool DeltaFetch::isNear(std::size_t chunk) const
{
    unsigned long long between = 0;
    for (std::size_t i = nextChunk_; i < chunk && between <= pieceBytes_; ++i)
        between += index_.chunks[i].length;
    return between <= pieceBytes_;
}

// Writes the chunks before `chunk`: those the old copy was seen to hold are
// copied, the others fetched.
bool DeltaFetch::catchUpTo(std::size_t chunk)
{
    for (const DeltaStep& step : planDelta(index_.chunks, heldAt_, nextChunk_, written_, chunk, deltaMergeGapBytes,
                                           pieceBytes_)) {
        if (!(step.fetched ? fetchChunks(step) : copyChunks(step)))
            return false;
    }
    return true;
}

bool DeltaFetch::copyChunks(const DeltaStep& step)
{
    platform::FileReader old;
    if (!old.open(source_.oldCopy))
        return false;  // the old copy went away since it was read
    for (std::size_t i = step.firstChunk; i < step.firstChunk + step.chunks; ++i) {
        const std::uint32_t length = index_.chunks[i].length;
        chunk_.resize(length);
        if (!old.readAt(heldAt_[i], chunk_.data(), length) || !appendChunk(chunk_.data(), length))
            return false;
    }
    return true;
}

bool DeltaFetch::fetchChunks(const DeltaStep& step)
{
    step_ = &step;
    received_ = 0;
    headTaken_ = false;
    wrongBytes_ = false;
    const AnswerEnd end =
        transport_.ask(entry_.uri, step.firstByte, step.firstByte + step.bytes - 1, {}, *this);
    if (end != AnswerEnd::complete || !headTaken_ || wrongBytes_ || nextChunk_ != step.firstChunk + step.chunks)
        return false;
    fetchedBytes_ += step.bytes;
    return true;
}

bool DeltaFetch::write(const char* data, std::size_t size)
{
    file_.write(data, static_cast<std::streamsize>(size));
    digests_.add(data, size);
    written_ += size;
    return static_cast<bool>(file_);
}

bool DeltaFetch::appendChunk(const char* data, std::size_t size)
{
    ++nextChunk_;
    return write(data, size);
}

// Only the range asked for, of the file the release signs: a 200 (the whole
// file) or any other range ends the delta.
bool DeltaFetch::takeHead(const AnswerHead& answer)
{
    ContentRange range;
    unsigned long long declared = 0;
    const unsigned long long last = step_->firstByte + step_->bytes - 1;
    headTaken_ = answer.status == partialContent && parseContentRange(answer.contentRange, range) &&
                 range.satisfied && range.first == step_->firstByte && range.last == last &&
                 range.total == entry_.signedEntry->size &&
                 (answer.contentLength.empty() ||
                  (parseContentLength(answer.contentLength, declared) && declared == step_->bytes));
    return headTaken_;
}

// Gathers each chunk whole, checks it against its hash, and only then writes it.
bool DeltaFetch::takeBody(const char* data, std::size_t size)
{
    const std::size_t endChunk = step_->firstChunk + step_->chunks;
    while (size > 0) {
        if (nextChunk_ == endChunk) {
            wrongBytes_ = true;  // more than was asked for
            return false;
        }
        const Chunk& chunk = index_.chunks[nextChunk_];
        chunk_.resize(chunk.length);
        const std::size_t taken = std::min<std::size_t>(size, chunk.length - received_);
        std::memcpy(chunk_.data() + received_, data, taken);
        received_ += taken;
        data += taken;
        size -= taken;
        if (received_ < chunk.length)
            continue;
        received_ = 0;
        if (chunkHashOf(reinterpret_cast<const unsigned char*>(chunk_.data()), chunk.length) != chunk.hash ||
            !appendChunk(chunk_.data(), chunk.length)) {
            wrongBytes_ = true;
            return false;
        }
    }
    return true;
}

}  // namespace

DeltaResult downloadByDelta(Transport& transport, const FetchedEntry& entry, const DeltaSource& source,
                            unsigned long long pieceBytes, FileProgress* progress)
{
    DeltaFetch delta(transport, entry, source, pieceBytes, progress);
    return delta.run();
}
