#include "launcher/download.h"

#include "launcher/file_fetch.h"
#include "launcher/parent_directories.h"
#include "launcher/partial_download.h"
#include "launcher/platform/platform.h"

bool downloadFile(const ServerAddress& server, const std::string& uri, const std::string& path,
                  const std::string& expectedDigest, const ReleaseEntry* signedEntry, const std::string& localName,
                  DownloadProgress* progress)
{
    HttpPieceTransport transport(server);
    return downloadThrough(transport, {uri, path, expectedDigest, signedEntry, localName}, downloadPieceBytes,
                           progress);
}

bool downloadThrough(PieceTransport& transport, const FetchedEntry& entry, unsigned long long pieceBytes,
                     DownloadProgress* progress)
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
    if (verified && platform::replaceFile(partialNameFor(localName).c_str(), localName.c_str())) {
        discardPartial(localName);
        return true;
    }
    fetch.close();
    if (fetched != Fetched::broken)
        discardPartial(localName);
    return false;
}
