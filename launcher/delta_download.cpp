#include "launcher/delta_download.h"

#include "channel/chunk_index.h"
#include "channel/file_digests.h"
#include "channel/sha256.h"
#include "launcher/delta_plan.h"
#include "launcher/http_fields.h"
#include "launcher/partial_download.h"
#include "launcher/platform/platform.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

const int partialContent = 206;
const std::size_t scanBufferBytes = 256u << 10;

// One delta download: the index, where the old copy holds each chunk, and
// the partial file being built, which only ever receives checked chunks.
class DeltaFetch : private AnswerSink {
public:
    DeltaFetch(PieceTransport& transport, const FetchedEntry& entry, const DeltaSource& source,
               unsigned long long pieceBytes, DownloadProgress* progress)
        : transport_(transport), entry_(entry), source_(source), pieceBytes_(pieceBytes), progress_(progress),
          partialName_(partialNameFor(entry.localName)), digests_(true)
    {
    }

    DeltaResult run();

private:
    bool fetchIndex();
    void keepVerifiedPrefix();
    bool startPartial();
    bool findHeldChunks();
    bool copyChunks(const DeltaStep& step);
    bool fetchChunks(const DeltaStep& step);
    bool write(const char* data, std::size_t size);
    bool appendChunk(const char* data, std::size_t size);
    void noteHeld(const Chunk& found, unsigned long long at, const std::vector<std::uint32_t>& byHash);
    bool takeInOrder(const Chunk& found, const std::vector<char>& carried, const char* rest);
    bool takeHead(const AnswerHead& answer) override;
    bool takeBody(const char* data, std::size_t size) override;

    PieceTransport& transport_;
    const FetchedEntry& entry_;
    const DeltaSource& source_;
    unsigned long long pieceBytes_;
    DownloadProgress* progress_;
    std::string partialName_;
    ChunkIndex index_;
    std::vector<unsigned long long> heldAt_;
    std::ofstream file_;
    StreamingDigests digests_;
    std::size_t nextChunk_ = 0;        // the first chunk not yet in the partial file
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
    platform::FileFacts facts;
    // Without an old copy nothing is reused: the whole download asks for the
    // same bytes without the index, and resumes a partial file on its own.
    if (!platform::fileFacts(source_.oldCopy, facts) || entry_.signedEntry == nullptr || !fetchIndex())
        return DeltaResult::fallBack;
    keepVerifiedPrefix();
    if (!startPartial() || !findHeldChunks())
        return DeltaResult::fallBack;
    const std::vector<DeltaStep> steps =
        planDelta(index_.chunks, heldAt_, nextChunk_, written_, deltaMergeGapBytes, pieceBytes_);
    if (progress_ != nullptr) {
        unsigned long long fetching = 0;
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
// each chunk still missing. As long as its chunks are the new file's next
// ones, they go straight into the partial file: an unchanged beginning is
// read once. False when the old copy cannot be read or written from.
bool DeltaFetch::findHeldChunks()
{
    const std::vector<Chunk>& chunks = index_.chunks;
    heldAt_.assign(chunks.size(), notHeldLocally);
    std::vector<std::uint32_t> byHash;
    for (std::size_t i = nextChunk_; i < chunks.size(); ++i)
        byHash.push_back(static_cast<std::uint32_t>(i));
    std::sort(byHash.begin(), byHash.end(),
              [&chunks](std::uint32_t a, std::uint32_t b) { return chunks[a].hash < chunks[b].hash; });

    platform::FileReader old;
    if (!old.open(source_.oldCopy))
        return false;
    ChunkCutter cutter(index_.parameters);
    std::vector<Chunk> cut;
    std::vector<char> buffer(scanBufferBytes);
    std::vector<char> carried;  // the bytes of the chunk being cut that earlier reads gave
    bool inOrder = true;
    unsigned long long readTo = 0;
    unsigned long long chunkAt = 0;
    for (bool ended = false; !ended;) {
        const long long count = old.readSomeAt(readTo, buffer.data(), buffer.size());
        ended = count <= 0;  // a read error ends the scan too: fewer chunks are reused
        const std::size_t size = ended ? 0 : static_cast<std::size_t>(count);
        if (ended)
            cutter.finish(cut);
        else
            cutter.add(reinterpret_cast<const unsigned char*>(buffer.data()), size, cut);
        std::size_t used = 0;
        for (const Chunk& found : cut) {
            const char* rest = buffer.data() + used;
            used += found.length - carried.size();
            inOrder = inOrder && takeInOrder(found, carried, rest);
            if (!file_)
                return false;
            noteHeld(found, chunkAt, byHash);
            chunkAt += found.length;
            carried.clear();
        }
        cut.clear();
        carried.insert(carried.end(), buffer.data() + used, buffer.data() + size);
        readTo += size;
    }
    return true;
}

// Writes the old copy's chunk when it is the new file's next one.
bool DeltaFetch::takeInOrder(const Chunk& found, const std::vector<char>& carried, const char* rest)
{
    if (nextChunk_ == index_.chunks.size() || index_.chunks[nextChunk_].length != found.length ||
        index_.chunks[nextChunk_].hash != found.hash)
        return false;
    ++nextChunk_;
    return write(carried.data(), carried.size()) && write(rest, found.length - carried.size());
}

// Notes the old copy's chunk at `at` for each chunk still missing that it equals.
void DeltaFetch::noteHeld(const Chunk& found, unsigned long long at, const std::vector<std::uint32_t>& byHash)
{
    const std::vector<Chunk>& chunks = index_.chunks;
    auto match = std::lower_bound(byHash.begin(), byHash.end(), found.hash,
                                  [&chunks](std::uint32_t i, const ChunkHash& hash) { return chunks[i].hash < hash; });
    for (; match != byHash.end() && chunks[*match].hash == found.hash; ++match) {
        if (*match >= nextChunk_ && chunks[*match].length == found.length && heldAt_[*match] == notHeldLocally)
            heldAt_[*match] = at;
    }
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
    return end == AnswerEnd::complete && headTaken_ && !wrongBytes_ &&
           nextChunk_ == step.firstChunk + step.chunks;
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

DeltaResult downloadByDelta(PieceTransport& transport, const FetchedEntry& entry, const DeltaSource& source,
                            unsigned long long pieceBytes, DownloadProgress* progress)
{
    DeltaFetch delta(transport, entry, source, pieceBytes, progress);
    return delta.run();
}
