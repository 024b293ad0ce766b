#include "publisher/channel_files.h"

#include "channel/sha256.h"
#include "digest/md5.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::size_t pieceBytes = 1u << 20;

}  // namespace

FileDigests digestsOfDescriptor(int fd, bool withSha256)
{
    FileDigests digests;
    if (fd < 0)
        return digests;
    Md5 md5;
    Sha256 sha256;
    std::vector<char> piece(pieceBytes);
    for (;;) {
        const ssize_t count = ::read(fd, piece.data(), piece.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return digests;
        if (count == 0)
            break;
        md5.update(piece.data(), static_cast<std::uint32_t>(count));
        if (withSha256)
            sha256.update(piece.data(), static_cast<std::size_t>(count));
        digests.size += static_cast<unsigned long long>(count);
    }
    digests.read = true;
    digests.md5 = md5.finalize().hexDigest();
    if (withSha256)
        digests.sha256 = sha256.hexDigest();
    return digests;
}

FileDigests digestsOfFile(const fs::path& file, bool withSha256)
{
    const ScopedDescriptor in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    return digestsOfDescriptor(in.get(), withSha256);
}

FileDigests digestsOfFile(const ChannelDirectory& channel, const std::string& path, bool withSha256)
{
    const ScopedDescriptor in(channel.openForReading(path));
    return digestsOfDescriptor(in.get(), withSha256);
}

bool putInPlace(const ChannelDirectory& channel, const std::string& temporary, const std::string& target,
                std::string& failure)
{
    if (channel.rename(temporary, target, failure))
        return true;
    std::string ignored;
    channel.removeFile(temporary, ignored);
    return false;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        data += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

bool writeAtomically(const ChannelDirectory& channel, const std::string& target, const std::string& text,
                     std::string& failure)
{
    const std::string temporary = target + publisherTemporarySuffix;
    const int fd = channel.createFresh(temporary, failure);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, text.data(), text.size());
    const int cause = errno;
    if (::close(fd) != 0 || !written) {
        failure = "cannot write " + channel.shown(temporary) + ": " + std::strerror(written ? errno : cause);
        std::string ignored;
        channel.removeFile(temporary, ignored);
        return false;
    }
    return putInPlace(channel, temporary, target, failure);
}
