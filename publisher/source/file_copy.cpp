#include "publisher/source/file_copy.h"

#include "channel/block_sums.h"
#include "channel/chunk_index.h"
#include "digest/streaming_digests.h"
#include "publisher/folder/channel_files.h"
#include "publisher/folder/hard_links.h"
#include "publisher/signals/interruption.h"
#include "publisher/source/background_cutter.h"
#include "publisher/source/copy_progress.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace fs = std::filesystem;

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
        cutter_->start(reinterpret_cast<const unsigned char*>(data), size);
        sha256_.update(data, size);
        blocks_.add(reinterpret_cast<const unsigned char*>(data), size);
        bytes_ += size;
        cutter_->wait();
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
    StreamingDigests streaming_;  // without a cutter
    std::optional<BackgroundCutter> cutter_;  // with one: the MD5 there, the SHA-256 and block sums here
    Sha256 sha256_;
    BlockSummer blocks_;
    unsigned long long bytes_ = 0;
};

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

// What tells a source file's version apart, read before and after it is copied.
struct FileVersion {
    bool known = false;
    unsigned long long size = 0;
    long long modifiedSeconds = 0;
    long long modifiedNanoseconds = 0;

    bool operator==(const FileVersion& other) const
    {
        return known && other.known && size == other.size && modifiedSeconds == other.modifiedSeconds &&
               modifiedNanoseconds == other.modifiedNanoseconds;
    }
};

FileVersion versionOf(const fs::path& file)
{
    struct stat facts {};
    FileVersion version;
    if (::stat(file.c_str(), &facts) != 0)
        return version;
    version.known = true;
    version.size = static_cast<unsigned long long>(facts.st_size);
    version.modifiedSeconds = facts.st_mtim.tv_sec;
    version.modifiedNanoseconds = facts.st_mtim.tv_nsec;
    return version;
}

// A signed release's file lies in a channel whose files may be planted: it
// is opened as that channel opens its own.
ScopedDescriptor openSource(const SourceFile& file)
{
    return file.channel != nullptr ? file.channel->openForReading(file.stored)
                                   : ScopedDescriptor(::open(file.location.c_str(), O_RDONLY | O_CLOEXEC));
}

// Whether the channel may share the file's bytes through a hard link: only
// when no one but the account publishing can write them, or a writer could
// change the channel's file after it was checked.
bool mayShare(int fd)
{
    struct stat facts {};
    return ::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) && facts.st_uid == ::geteuid() &&
           (facts.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A signed release's file must hold what was signed, whatever its channel holds now.
bool holdsSignedBytes(const SourceFile& file, const FileDigests& digests, std::string& failure)
{
    if (file.signedSha256.empty() || (digests.sha256 == file.signedSha256 && digests.size == file.signedSize))
        return true;
    failure = file.location.string() + " no longer holds the bytes the release signed for " + file.path +
              " (it was changed in place, or planted); nothing of it is published";
    return false;
}

// Copies `in` into `out`, hashing and counting what was written; errno says why when it fails.
bool copyAndHash(int in, int out, OneRead& reading, CopyProgress* progress = nullptr)
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

// Gives the channel the open file `in` under file.path through a hard link,
// once its bytes are the signed ones. False with `failure` empty when the
// file system cannot link it there (another one): the caller copies it.
bool linkIntoChannel(const ChannelDirectory& channel, const SourceFile& file, int in, const std::string& temporary,
                     FileDigests& digests, std::string& failure)
{
    std::string ignored;
    channel.removeFile(temporary, ignored);
    if (!linkOpenFile(channel, in, temporary, ignored))
        return false;
    struct stat linked {};
    digests = readWhole(in, true, file.signedSize);
    if (!digests.read || ::fstat(in, &linked) != 0) {
        failure = "cannot read " + file.location.string() + ": " + std::strerror(errno);
    } else if (holdsSignedBytes(file, digests, failure) && putInPlace(channel, temporary, file.path, failure)) {
        digests.device = linked.st_dev;
        digests.inode = linked.st_ino;
        digests.linked = true;
        return true;
    }
    channel.removeFile(temporary, ignored);
    return false;
}

}  // namespace

FileDigests copyDescriptor(int in, int out)
{
    OneRead reading(true, 0);
    if (!copyAndHash(in, out, reading))
        return FileDigests();
    return reading.finish();
}

FileDigests digestsOfDescriptor(int fd, bool withSha256)
{
    return readWhole(fd, withSha256, 0);
}

FileDigests digestsOfFile(const fs::path& file, bool signs)
{
    const ScopedDescriptor in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat facts {};
    const unsigned long long size = in.get() >= 0 && ::fstat(in.get(), &facts) == 0 ? facts.st_size : 0;
    return readWhole(in.get(), signs, size);
}

FileDigests digestsOfFile(const ChannelDirectory& channel, const std::string& path, bool withSha256)
{
    const ScopedDescriptor in(channel.openForReading(path));
    return digestsOfDescriptor(in.get(), withSha256);
}

bool digestsIfAlreadyPublished(const ChannelDirectory& channel, const SourceFile& file, bool signs,
                               FileDigests& digests, HashedFiles& hashed, std::string& failure)
{
    // Same size: compare contents (the bytes read are the ones listed); else it changed for sure.
    const FileVersion source = versionOf(file.location);
    unsigned long long publishedSize = 0;
    if (channel.kindOf(file.path, &publishedSize) != ChannelDirectory::Kind::regular || !source.known ||
        publishedSize != source.size)
        return true;
    {
        const ScopedDescriptor in = openSource(file);
        digests = readWhole(in.get(), signs, source.size);
    }
    if (!digests.read) {
        failure = "cannot read " + file.location.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!holdsSignedBytes(file, digests, failure))
        return false;
    // With `signs`, the copy is also given its object's name: it must hold the very bytes signed.
    const ScopedDescriptor published(channel.openForReading(file.path));
    struct stat facts {};
    const FileDigests present = published.get() >= 0 && ::fstat(published.get(), &facts) == 0
                                    ? digestsOfDescriptor(published.get(), signs)
                                    : FileDigests();
    digests.read = present.read && present.md5 == digests.md5 && present.sha256 == digests.sha256;
    // Written over in place, it may have taken an older release's object with it.
    if (signs && present.read && facts.st_nlink > 1)
        hashed[{facts.st_dev, facts.st_ino}] = present.sha256;
    digests.device = facts.st_dev;
    digests.inode = facts.st_ino;
    return true;
}

bool copyIntoChannel(const ChannelDirectory& channel, const SourceFile& file, bool signs, FileDigests& digests,
                     std::string& failure)
{
    const std::string::size_type slash = file.path.rfind('/');
    if (slash != std::string::npos && !channel.makeDirectories(file.path.substr(0, slash), failure))
        return false;
    const std::string temporary = file.path + publisherTemporarySuffix;
    const FileVersion before = versionOf(file.location);
    const ScopedDescriptor in = openSource(file);
    if (in.get() < 0) {
        failure = "cannot copy " + file.path + ": cannot read " + file.location.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!file.signedSha256.empty() && mayShare(in.get()) &&
        linkIntoChannel(channel, file, in.get(), temporary, digests, failure))
        return true;
    if (!failure.empty())
        return false;
    ScopedDescriptor out = channel.createFresh(temporary, failure);
    if (out.get() < 0)
        return false;
    CopyProgress progress(file.path, before.size);
    OneRead reading(signs, before.size);
    const bool copied = copyAndHash(in.get(), out.get(), reading, &progress);
    int cause = errno;
    struct stat written {};
    ::fstat(out.get(), &written);
    const bool closed = out.close();
    if (copied && !closed)
        cause = errno;
    std::string ignored;
    if (!copied || !closed) {
        progress.finish(false);
        failure = "cannot copy " + file.path + " to " + channel.shown(temporary) + ": " + std::strerror(cause);
        channel.removeFile(temporary, ignored);
        return false;
    }
    if (!(versionOf(file.location) == before) || reading.bytes() != before.size) {
        progress.finish(false);
        failure = file.location.string() + " changed while it was copied (is something still writing it?)";
        channel.removeFile(temporary, ignored);
        return false;
    }
    digests = reading.finish();
    if (!holdsSignedBytes(file, digests, failure) || !putInPlace(channel, temporary, file.path, failure)) {
        progress.finish(false);
        channel.removeFile(temporary, ignored);
        return false;
    }
    progress.finish(true);
    digests.device = written.st_dev;
    digests.inode = written.st_ino;
    return true;
}
