#include "launcher/download/download.h"

#include "launcher/download/file_fetch.h"
#include "platform/parent_directories.h"
#include "launcher/download/partial_download.h"
#include "platform/platform.h"

#include <cerrno>

Downloaded downloadFile(Transport& transport, const FetchedEntry& entry, const DeltaSource* delta,
                        FileProgress* progress)
{
    if (delta != nullptr) {
        switch (downloadByDelta(transport, entry, *delta, downloadPieceBytes, progress)) {
        case DeltaResult::placed:
            return Downloaded::placed;
        case DeltaResult::failed:
            return Downloaded::failed;
        case DeltaResult::held:
            return Downloaded::held;
        case DeltaResult::fallBack:
            break;
        }
    }
    return downloadThrough(transport, entry, downloadPieceBytes, progress);
}

Downloaded downloadThrough(Transport& transport, const FetchedEntry& entry, unsigned long long pieceBytes,
                           FileProgress* progress)
{
    const std::string& localName = entry.localName;
    if (!createParentDirectories(localName))
        return Downloaded::failed;
    FileFetch fetch(transport, entry, pieceBytes, progress);
    errno = 0;  // only this open's own failure may tell a full disk
    if (!fetch.resume() && !fetch.startFromZero())
        return errno == ENOSPC ? Downloaded::diskFull : Downloaded::failed;
    return finishDownload(fetch, entry, progress);
}

Downloaded finishDownload(FileFetch& fetch, const FetchedEntry& entry, FileProgress* progress)
{
    fetch.showProgress(progress);
    Fetched fetched = fetch.fetch();
    bool verified = fetched == Fetched::whole && fetch.verified();
    // A resumed file that changed on the server, or whose kept bytes do not
    // give the digest, is fetched once more from zero in the same run.
    if (fetch.resumed() && !verified && (fetched == Fetched::restart || fetched == Fetched::whole)) {
        if (!fetch.startFromZero())
            return Downloaded::failed;
        fetched = fetch.fetch();
        verified = fetched == Fetched::whole && fetch.verified();
    }
    if (verified) {
        const Placed placed = placeVerifiedPartial(entry);
        if (placed != Placed::failed)
            return placed == Placed::inPlace ? Downloaded::placed : Downloaded::held;
    }
    fetch.close();
    const bool resumable = fetched == Fetched::broken || (fetched == Fetched::diskFull && fetch.keptBytes() > 0);
    if (!resumable)
        discardPartial(entry.localName);
    return fetched == Fetched::diskFull ? Downloaded::diskFull : Downloaded::failed;
}
