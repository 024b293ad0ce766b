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
    unsigned long long size = 0;
    return statedManifestSize(release, size);
}

bool statedManifestSize(const Release& release, unsigned long long& size)
{
    const std::string marker = objectPathOf(release.manifestSha256);
    for (const ReleaseEntry& entry : release.files) {
        if (entry.path == marker && entry.sha256 == release.manifestSha256) {
            size = entry.size;
            return true;
        }
    }
    return false;
}
