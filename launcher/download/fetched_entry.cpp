#include "launcher/download/fetched_entry.h"

#include "digest/md5.h"
#include "platform/platform.h"

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
    if (!platform::replaceFile(partialNameFor(entry.localName).c_str(), entry.localName.c_str()))
        return false;
    discardPartial(entry.localName);
    return true;
}
