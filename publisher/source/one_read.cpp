#include "publisher/source/one_read.h"

#include "channel/block_sums.h"
#include "channel/chunk_index.h"
#include "digest/streaming_digests.h"
#include "publisher/folder/channel_files.h"
#include "publisher/signals/interruption.h"
#include "publisher/source/background_cutter.h"

#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

namespace {

const std::size_t pieceBytes = 1u << 20;

// Reads `fd` to its end through one buffer, handing each piece to `take`;
// false on a read error (errno says which) or when `take` refuses a piece.
template <typename Take>
bool readPieces(int fd, Take take)
{
    std::vector<char> piece(pieceBytes);
    for (;;) {
        if (interruptingSignal() != 0) {
            errno = EINTR;
            return false;
        }
        const ssize_t count = ::read(fd, piece.data(), piece.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return count == 0;
        if (!take(piece.data(), static_cast<std::size_t>(count)))
            return false;
    }
}

// Everything one read of a file yields: its digests and, when signing a
// file large enough to be worth it, its chunks.
class OneRead {
public:
    OneRead(bool signs, unsigned long long expectedSize) : streaming_(signs)
    {
        if (signs && expectedSize >= chunkIndexFromBytes)
            cutter_.emplace(standardChunkParameters);
    }

    void add(const char* data, std::size_t size)
    {
        if (!cutter_) {
            streaming_.add(data, size);
            return;
        }
        cutter_->add(data, size);
        sha256_.update(data, size);
        blocks_.add(reinterpret_cast<const unsigned char*>(data), size);
        bytes_ += size;
    }
    unsigned long long bytes() const { return cutter_ ? bytes_ : streaming_.bytes(); }

    FileDigests finish()
    {
        FileDigests digests;
        digests.read = true;
        digests.size = bytes();
        if (!cutter_) {
            digests.md5 = streaming_.md5Hex();
            digests.sha256 = streaming_.sha256Hex();
            return digests;
        }
        digests.md5 = cutter_->md5Hex();
        digests.sha256 = sha256_.hexDigest();
        // The size seen before the read decided on the cut; the bytes read decide on the index.
        if (digests.size >= chunkIndexFromBytes) {
            ChunkIndex index;
            index.fileSize = digests.size;
            index.fileSha256 = digests.sha256;
            index.chunks = cutter_->finish();
            digests.chunkIndex = chunkIndexBytes(index);
            digests.blockSums = blocks_.finish(digests.sha256);
        }
        return digests;
    }

private:
    StreamingDigests streaming_;              // without a cutter
    std::optional<BackgroundCutter> cutter_;  // with one: the MD5 there, the SHA-256 and block sums here
    Sha256 sha256_;
    BlockSummer blocks_;
    unsigned long long bytes_ = 0;
};

// Copies `in` into `out`, hashing and counting what was written; errno says why when it fails.
bool copyAndHash(int in, int out, OneRead& reading, CopyProgress* progress)
{
    return readPieces(in, [&](const char* data, std::size_t size) {
        if (!writeAll(out, data, size))
            return false;
        reading.add(data, size);
        if (progress != nullptr)
            progress->advance(reading.bytes());
        return true;
    });
}

}  // namespace

FileDigests readWhole(int fd, bool signs, unsigned long long expectedSize)
{
    OneRead reading(signs, expectedSize);
    const auto take = [&reading](const char* data, std::size_t size) {
        reading.add(data, size);
        return true;
    };
    if (fd < 0 || !readPieces(fd, take))
        return FileDigests();
    return reading.finish();
}

FileDigests digestsOfDescriptor(int fd, bool withSha256)
{
    return readWhole(fd, withSha256, 0);
}

FileDigests copyDescriptor(int in, int out)
{
    OneRead reading(true, 0);
    if (!copyAndHash(in, out, reading, nullptr))
        return FileDigests();
    return reading.finish();
}

bool copyWhole(int in, int out, bool signs, unsigned long long expectedSize, CopyProgress& progress,
               FileDigests& digests)
{
    int cause = 0;
    {
        OneRead reading(signs, expectedSize);
        if (copyAndHash(in, out, reading, &progress)) {
            digests = reading.finish();
            return true;
        }
        cause = errno;
    }
    // The read's or the write's reason, not what stopping the pipeline's threads may leave.
    errno = cause;
    return false;
}
