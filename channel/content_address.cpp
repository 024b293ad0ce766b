#include "channel/content_address.h"

#include "digest/sha256.h"

std::string objectPathOf(const std::string& sha256)
{
    return std::string(objectsDirectoryName) + "/" + sha256;
}

bool isObjectName(const std::string& name)
{
    return isSha256Hex(name);
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

bool isContentAddressMarker(const ReleaseEntry& entry, const Release& release)
{
    return entry.path == objectPathOf(release.manifestSha256) && entry.sha256 == release.manifestSha256;
}

bool statedManifestSize(const Release& release, unsigned long long& size)
{
    for (const ReleaseEntry& entry : release.files) {
        if (isContentAddressMarker(entry, release)) {
            size = entry.size;
            return true;
        }
    }
    return false;
}
