#include "publisher/source/source_version.h"

#include <fcntl.h>
#include <sys/stat.h>

FileVersion versionOf(const std::filesystem::path& file)
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

bool unchangedWhileCopied(const SourceFile& file, const FileVersion& before, unsigned long long copied,
                          std::string& failure)
{
    if (versionOf(file.location) == before && copied == before.size)
        return true;
    failure = file.location.string() + " changed while it was copied (is something still writing it?)";
    return false;
}

ScopedDescriptor openSource(const SourceFile& file)
{
    return file.channel != nullptr ? file.channel->openForReading(file.stored)
                                   : ScopedDescriptor(::open(file.location.c_str(), O_RDONLY | O_CLOEXEC));
}

bool holdsSignedBytes(const SourceFile& file, const FileDigests& digests, std::string& failure)
{
    if (file.signedSha256.empty() || (digests.sha256 == file.signedSha256 && digests.size == file.signedSize))
        return true;
    failure = file.location.string() + " no longer holds the bytes the release signed for " + file.path +
              " (it was changed in place, or planted); nothing of it is published";
    return false;
}
