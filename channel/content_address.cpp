#include "channel/content_address.h"

std::string objectPathOf(const std::string& sha256)
{
    return std::string(chunkIndexDirectoryName) + "/" + sha256;
}

ReleaseEntry contentAddressMarker(const std::string& manifestSha256, unsigned long long manifestSize)
{
    return {manifestSha256, manifestSize, objectPathOf(manifestSha256)};
}

bool isContentAddressed(const Release& release)
{
    const std::string marker = objectPathOf(release.manifestSha256);
    for (const ReleaseEntry& entry : release.files) {
        if (entry.path == marker && entry.sha256 == release.manifestSha256)
            return true;
    }
    return false;
}
