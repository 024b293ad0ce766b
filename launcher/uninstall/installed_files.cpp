#include "launcher/uninstall/installed_files.h"

#include "channel/case_folding.h"
#include "channel/channel_names.h"
#include "channel/manifest.h"
#include "channel/release.h"
#include "digest/streaming_digests.h"
#include "index/installed_listing.h"
#include "launcher/release/accepted_release.h"
#include "launcher/release/retired_files.h"

#include <physfs.h>

#include <vector>

namespace {

const PHYSFS_uint64 readPieceSize = 1u << 20;

bool signedFiles(const std::vector<ReleaseKey>& keys, InstalledFiles& installed)
{
    std::string manifestText;
    Release release;
    if (keys.empty() || !readAcceptedRecord(keys, manifestText, release))
        return false;
    const std::unordered_map<std::string, std::string> listed = parseManifest(manifestText).digests;
    installed.known = true;
    for (const ReleaseEntry& entry : release.files) {
        const auto digest = listed.find(entry.path);
        if (digest != listed.end() && isRemovableGamePath(entry.path))
            installed.files[entry.path] = {digest->second, entry.sha256, entry.size};
    }
    return true;
}

}  // namespace

bool isRemovableGamePath(const std::string& path)
{
    const std::string::size_type slash = path.find('/');
    const bool inScannedFolder =
        slash == std::string::npos || (path.compare(0, slash + 1, std::string(libraryDirectoryName) + "/") == 0 &&
                                       path.find('/', slash + 1) == std::string::npos);
    // What retired files may be is what an update may have written: safe, and never the launcher's own.
    return inScannedFolder && path != channelLockName && path != channelManifestName &&
           !retiredCandidates({{path, std::string()}}, {}).empty();
}

InstalledFiles installedFiles(const std::vector<ReleaseKey>& keys)
{
    InstalledFiles installed;
    if (signedFiles(keys, installed))
        return installed;
    std::unordered_map<std::string, std::string> listed;
    if (!readInstalledListing(listed))
        return installed;
    installed.known = true;
    for (const auto& [path, digest] : listed) {
        if (isRemovableGamePath(path))
            installed.files[path] = {digest, std::string(), 0};
    }
    return installed;
}

bool holdsInstalledBytes(const std::string& path, const InstalledBytes& bytes)
{
    PHYSFS_Stat stat;
    // A link is the player's: the launcher only ever renames regular files into place.
    if (PHYSFS_stat(path.c_str(), &stat) == 0 || stat.filetype != PHYSFS_FILETYPE_REGULAR ||
        (!bytes.sha256.empty() && static_cast<unsigned long long>(stat.filesize) != bytes.size))
        return false;
    PHYSFS_File* file = PHYSFS_openRead(path.c_str());
    if (file == nullptr)
        return false;
    StreamingDigests digests(bytes.sha256.empty() ? DigestSet::md5 : DigestSet::md5AndSha256);
    std::vector<char> piece(readPieceSize);
    PHYSFS_sint64 got = 0;
    while ((got = PHYSFS_readBytes(file, piece.data(), readPieceSize)) > 0)
        digests.add(piece.data(), static_cast<std::size_t>(got));
    const bool whole = got == 0 && PHYSFS_eof(file) != 0;
    PHYSFS_close(file);
    return whole && digests.md5Hex() == lowerCase(bytes.md5) && digests.sha256Hex() == lowerCase(bytes.sha256);
}
