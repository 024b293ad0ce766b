#include "launcher/download/fetched_entry.h"

#include "digest/md5.h"
#include "launcher/platform/platform.h"

bool describes(const ResumeRecord& record, const FetchedEntry& entry)
{
    return record.path == entry.path && sameHexDigest(record.digest, entry.expectedDigest) &&
           (entry.signedEntry == nullptr || record.total == entry.signedEntry->size);
}

bool holdsEntry(StreamingDigests& digests, const FetchedEntry& entry)
{
    return sameHexDigest(digests.md5Hex(), entry.expectedDigest) &&
           (entry.signedEntry == nullptr || digests.sha256Hex() == entry.signedEntry->sha256);
}

bool putPartialInPlace(const FetchedEntry& entry)
{
    if (!platform::replaceFile(partialNameFor(entry.localName).c_str(), entry.localName.c_str()))
        return false;
    discardPartial(entry.localName);
    return true;
}
