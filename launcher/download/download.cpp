#include "launcher/download/download.h"

#include "launcher/download/file_fetch.h"
#include "platform/parent_directories.h"
#include "launcher/download/partial_download.h"
#include "platform/platform.h"

bool downloadFile(Transport& transport, const FetchedEntry& entry, const DeltaSource* delta, FileProgress* progress)
{
    if (delta != nullptr) {
        const DeltaResult result = downloadByDelta(transport, entry, *delta, downloadPieceBytes, progress);
        if (result != DeltaResult::fallBack)
            return result == DeltaResult::placed;
    }
    return downloadThrough(transport, entry, downloadPieceBytes, progress);
}

bool downloadThrough(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes,
                     FileProgress* progress)
{
    const std::string& localName = entry.localName;
    if (!createParentDirectories(localName))
        return false;
    FileFetch fetch(transport, entry, pieceBytes, progress);
    if (!fetch.resume() && !fetch.startFromZero())
        return false;
    Fetched fetched = fetch.fetch();
    bool verified = fetched == Fetched::whole && fetch.verified();
    // A resumed file that changed on the server, or whose kept bytes do not
    // give the digest, is fetched once more from zero in the same run.
    if (fetch.resumed() && !verified && (fetched == Fetched::restart || fetched == Fetched::whole)) {
        if (!fetch.startFromZero())
            return false;
        fetched = fetch.fetch();
        verified = fetched == Fetched::whole && fetch.verified();
    }
    if (verified && putPartialInPlace(entry))
        return true;
    fetch.close();
    if (fetched != Fetched::broken)
        discardPartial(localName);
    return false;
}
