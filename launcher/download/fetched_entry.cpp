#include "launcher/download/fetched_entry.h"

#include "digest/md5.h"
#include "platform/platform.h"

#include <cerrno>

bool describes(const ResumeRecord& record, const FetchedEntry& entry)
{
    return record.path == entry.path && sameHexDigest(record.digest, entry.expectedDigest) &&
           (entry.signedEntry == nullptr || record.total == entry.signedEntry->size);
}

DigestSet digestsFor(const FetchedEntry& entry)
{
    return entry.signedEntry != nullptr ? DigestSet::sha256 : DigestSet::md5;
}

bool holdsEntry(StreamingDigests& digests, const FetchedEntry& entry)
{
    if (entry.signedEntry != nullptr)
        return digests.bytes() == entry.signedEntry->size && digests.sha256Hex() == entry.signedEntry->sha256;
    return sameHexDigest(digests.md5Hex(), entry.expectedDigest);
}

bool putPartialInPlace(const FetchedEntry& entry)
{
    return putPartialInPlace(entry.localName);
}

bool putPartialInPlace(const std::string& localName)
{
    if (!platform::replaceFile(partialNameFor(localName).c_str(), localName.c_str()))
        return false;
    discardPartial(localName);
    return true;
}

Placed placeVerifiedPartial(const FetchedEntry& entry)
{
    if (putPartialInPlace(entry))
        return Placed::inPlace;
    const int cause = errno;
    platform::FileFacts facts;
    // Windows refuses a directory in the way as it refuses a held file: only a file is held.
    if (!platform::isHeldFileFailure(cause) || !platform::fileFacts(entry.localName, facts)) {
        errno = cause;
        return Placed::failed;
    }
    // A record of the whole file: the next start hashes it once more and puts it in place without a download.
    if (platform::fileFacts(partialNameFor(entry.localName), facts))
        writeResumeRecord(entry.localName, {entry.path, entry.expectedDigest, facts.size, "", ""});
    errno = cause;
    return Placed::held;
}
