#include "launcher/download/chunk_writer.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstring>

namespace {

bool isChunk(const std::vector<char>& bytes, const Chunk& chunk)
{
    return chunkHashOf(reinterpret_cast<const unsigned char*>(bytes.data()), chunk.length) == chunk.hash;
}

}  // namespace

ChunkWriter::ChunkWriter(const ChunkIndex& index, const FetchedEntry& entry)
    : index_(index), entry_(entry), digests_(DigestSet::sha256)
{
}

bool ChunkWriter::open()
{
    keepVerifiedPrefix();
    const std::string partialName = partialNameFor(entry_.localName);
    if (written_ == 0) {
        discardPartial(entry_.localName);
        platform::openForWriting(file_, partialName);
    } else if (platform::truncateFile(partialName, written_)) {
        platform::openForAppending(file_, partialName);
    }
    return file_.is_open() &&
           writeResumeRecord(entry_.localName, {entry_.path, entry_.expectedDigest, entry_.signedEntry->size, "", ""});
}

// The chunks that the first bytes of a partial file of this entry still give.
void ChunkWriter::keepVerifiedPrefix()
{
    ResumeRecord record;
    platform::FileReader partial;
    if (!readResumeRecord(entry_.localName, record) || !describes(record, entry_) ||
        !partial.open(partialNameFor(entry_.localName)))
        return;
    for (; nextChunk_ < index_.chunks.size(); ++nextChunk_) {
        const Chunk& chunk = index_.chunks[nextChunk_];
        chunk_.resize(chunk.length);
        if (!partial.readAt(written_, chunk_.data(), chunk.length) || !isChunk(chunk_, chunk))
            break;
        digests_.add(chunk_.data(), chunk.length);
        written_ += chunk.length;
    }
}

bool ChunkWriter::append(const char* data, std::size_t size)
{
    ++nextChunk_;
    return write(data, size);
}

bool ChunkWriter::append(const ChunkBytes& bytes)
{
    ++nextChunk_;
    return write(bytes.carried, bytes.carriedSize) && write(bytes.rest, bytes.restSize);
}

bool ChunkWriter::receive(const char* data, std::size_t size, std::size_t endChunk)
{
    while (size > 0) {
        if (nextChunk_ == endChunk)
            return false;  // more than was asked for
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
        if (!isChunk(chunk_, chunk) || !append(chunk_.data(), chunk.length))
            return false;
    }
    return true;
}

bool ChunkWriter::flush()
{
    file_.flush();
    return good();
}

bool ChunkWriter::verified()
{
    file_.close();
    return !file_.fail() && holdsEntry(digests_, entry_);
}

bool ChunkWriter::write(const char* data, std::size_t size)
{
    file_.write(data, static_cast<std::streamsize>(size));
    digests_.add(data, size);
    written_ += size;
    return good();
}
