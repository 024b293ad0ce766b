#include "index/file_index.h"

#include <cstring>

namespace {

const std::size_t digestLength = 32;
// Digest, a space, and one character never examined (' ' or '*') precede the path.
const std::size_t pathOffset = digestLength + 2;

}  // namespace

FileIndex::FileIndex(const std::string& manifestText)
{
    const char* text = manifestText.data();
    const std::size_t size = manifestText.size();
    std::size_t pos = 0;

    while (pos < size) {
        const std::size_t rest = size - pos;
        // Only whether the first space sits exactly at the digest's end matters,
        // so the search need not look past it.
        const std::size_t window = rest < digestLength + 1 ? rest : digestLength + 1;
        const void* space = std::memchr(text + pos, ' ', window);
        const std::size_t fieldLength =
            space ? static_cast<std::size_t>(static_cast<const char*>(space) - (text + pos)) : rest;
        if (fieldLength != digestLength || rest < pathOffset)
            break;

        const void* lineFeed = std::memchr(text + pos + pathOffset, '\n', rest - pathOffset);
        const std::size_t end =
            lineFeed ? static_cast<std::size_t>(static_cast<const char*>(lineFeed) - text) : size;

        remoteDigests[manifestText.substr(pos + pathOffset, end - pos - pathOffset)] =
            manifestText.substr(pos, digestLength);
        pos = end == size ? size : end + 1;
    }
}
