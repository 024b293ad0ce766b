#include "publisher/source/channel_copy.h"

#include "channel/channel_names.h"
#include "publisher/folder/channel_files.h"
#include "publisher/folder/hard_links.h"
#include "publisher/source/copy_progress.h"
#include "publisher/source/source_version.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Whether the channel may share the file's bytes through a hard link: only
// when no one but the account publishing can write them, or a writer could
// change the channel's file after it was checked.
bool mayShare(int fd)
{
    struct stat facts {};
    return ::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) && facts.st_uid == ::geteuid() &&
           (facts.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Gives the channel the open file `in` under file.path through a hard link,
// once its bytes are the signed ones. False with `failure` empty when the
// file system cannot link it there (another one), or when the link would
// date the name back (a rollback's object, say: a link cannot be dated
// without its object): the caller copies it.
bool linkIntoChannel(const ChannelDirectory& channel, const SourceFile& file, int in, const std::string& temporary,
                     FileDigests& digests, std::string& failure)
{
    if (!datedAfterReplaced(channel, in, file.path))
        return false;
    std::string ignored;
    channel.removeFile(temporary, ignored);  // a killed run's
    if (!linkOpenFile(channel, in, temporary, ignored))
        return false;
    struct stat linked {};
    digests = readWhole(in, true, file.signedSize);
    if (!digests.read || ::fstat(in, &linked) != 0) {
        failure = "cannot read " + file.location.string() + ": " + std::strerror(errno);
        return false;
    }
    if (!holdsSignedBytes(file, digests, failure) || !putInPlace(channel, temporary, file.path, failure))
        return false;
    digests.device = linked.st_dev;
    digests.inode = linked.st_ino;
    digests.linked = true;
    return true;
}

// Copies `in` into the fresh file `out` and closes it, with what the system
// says of the file written.
bool writeTemporary(const ChannelDirectory& channel, const SourceFile& file, int in, ScopedDescriptor out,
                    const std::string& temporary, const FileVersion& before, bool signs, CopyProgress& progress,
                    FileDigests& digests, std::string& failure)
{
    const bool copied = copyWhole(in, out.get(), signs, before.size, progress, digests) &&
                        dateAfterReplaced(channel, out.get(), file.path);
    int cause = errno;
    struct stat written {};
    ::fstat(out.get(), &written);
    const bool closed = out.close();
    if (copied && !closed)
        cause = errno;
    if (!copied || !closed) {
        failure = "cannot copy " + file.path + " to " + channel.shown(temporary) + ": " + std::strerror(cause);
        return false;
    }
    digests.device = written.st_dev;
    digests.inode = written.st_ino;
    return true;
}

// Copies the source through `temporary`, then puts it in place once the
// bytes written are the whole source as it was before (and, for a signed
// release's file, the bytes signed).
bool copyThroughTemporary(const ChannelDirectory& channel, const SourceFile& file, int in, const std::string& temporary,
                          const FileVersion& before, bool signs, FileDigests& digests, std::string& failure)
{
    ScopedDescriptor out = channel.createFresh(temporary, failure);
    if (out.get() < 0)
        return false;
    CopyProgress progress(file.path, before.size);
    const bool placed =
        writeTemporary(channel, file, in, std::move(out), temporary, before, signs, progress, digests, failure) &&
        unchangedWhileCopied(file, before, digests.size, failure) && holdsSignedBytes(file, digests, failure) &&
        putInPlace(channel, temporary, file.path, failure);
    progress.finish(placed);
    return placed;
}

}  // namespace

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
    const ScopedDescriptor published = channel.openForReading(file.path);
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
    const bool shared = !file.signedSha256.empty() && mayShare(in.get()) &&
                        linkIntoChannel(channel, file, in.get(), temporary, digests, failure);
    if (shared ||
        (failure.empty() && copyThroughTemporary(channel, file, in.get(), temporary, before, signs, digests, failure)))
        return true;
    // The one cleanup: whichever way failed, no temporary file stays.
    std::string ignored;
    channel.removeFile(temporary, ignored);
    return false;
}
