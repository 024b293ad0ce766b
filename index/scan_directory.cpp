#include "digest/streaming_digests.h"
#include "digest/md5.h"
#include "index/file_index.h"
#include "index/game_directory.h"

#include <physfs.h>

#include <vector>

namespace {

// Files are hashed through one fixed buffer, so memory stays flat and any
// size, 4 GiB and beyond, gets its true digest.
const PHYSFS_uint64 readPieceSize = 1u << 20;

// The empty string means "no digest": the path is fetched again.
std::string digestOfOpenFile(PHYSFS_File* file, PHYSFS_sint64 size, std::vector<unsigned char>& piece)
{
    StreamingDigests digests;
    PHYSFS_uint64 remaining = static_cast<PHYSFS_uint64>(size);
    while (remaining > 0) {
        const PHYSFS_uint64 wanted = remaining < readPieceSize ? remaining : readPieceSize;
        const PHYSFS_sint64 got = PHYSFS_readBytes(file, piece.data(), wanted);
        if (got != static_cast<PHYSFS_sint64>(wanted))
            return std::string();
        digests.add(reinterpret_cast<const char*>(piece.data()), static_cast<std::size_t>(wanted));
        remaining -= wanted;
    }
    return digests.md5Hex();
}

std::string digestOfEntry(const std::string& path, std::vector<unsigned char>& piece)
{
    PHYSFS_File* file = PHYSFS_openRead(path.c_str());
    PHYSFS_Stat stat;
    const bool statKnown = PHYSFS_stat(path.c_str(), &stat) != 0;
    const PHYSFS_sint64 size = statKnown ? stat.filesize : -1;

    std::string digest;
    if (statKnown && stat.filetype == PHYSFS_FILETYPE_REGULAR && size == 0)
        digest = md5Hex(std::string());
    else if (size > 0 && stat.filetype != PHYSFS_FILETYPE_DIRECTORY && file != nullptr)
        digest = digestOfOpenFile(file, size, piece);

    if (file != nullptr)
        PHYSFS_close(file);
    return digest;
}

}  // namespace

void FileIndex::scanDirectory(const std::string& prefix, const KnownDigest& knownDigest)
{
    std::vector<unsigned char> piece;
    for (const std::string& name : gameDirectoryEntries(prefix)) {
        const std::string path = prefix + name;
        if (remoteDigests.find(path) == remoteDigests.end())
            continue;
        std::string known;
        if (knownDigest && knownDigest(path, known)) {
            localDigests[path] = known;
            continue;
        }
        if (piece.empty())
            piece.resize(readPieceSize);
        localDigests[path] = digestOfEntry(path, piece);
    }
}
