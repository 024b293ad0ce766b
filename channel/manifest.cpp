#include "channel/manifest.h"

#include <algorithm>
#include <cstring>

namespace {

const std::size_t digestLength = 32;
// Digest, a space, and one character never examined (' ' or '*') precede the path.
const std::size_t pathOffset = digestLength + 2;

std::size_t lineFeedsIn(const char* begin, const char* end)
{
    return static_cast<std::size_t>(std::count(begin, end, '\n'));
}

}  // namespace

Manifest parseManifest(const std::string& text)
{
    Manifest manifest;
    const Manifest counts = walkManifest(
        text, [&manifest](std::string_view md5, std::string_view path, std::size_t lineNumber, std::size_t lines) {
            ManifestEntry entry{std::string(md5), std::string(path), lineNumber, lines};
            manifest.digests[entry.path] = entry.md5;
            manifest.entries.push_back(std::move(entry));
        });
    manifest.refusedFrom = counts.refusedFrom;
    manifest.lineCount = counts.lineCount;
    return manifest;
}

Manifest walkManifest(const std::string& text, const ManifestVisitor& visit)
{
    Manifest manifest;
    const char* data = text.data();
    const std::size_t size = text.size();
    std::size_t pos = 0;
    std::size_t lineNumber = 1;

    while (pos < size) {
        const std::size_t rest = size - pos;
        // Only whether the first space sits exactly at the digest's end matters,
        // so the search need not look past it.
        const std::size_t window = rest < digestLength + 1 ? rest : digestLength + 1;
        const void* space = std::memchr(data + pos, ' ', window);
        const std::size_t fieldLength =
            space ? static_cast<std::size_t>(static_cast<const char*>(space) - (data + pos)) : rest;
        if (fieldLength != digestLength || rest < pathOffset) {
            manifest.refusedFrom = lineNumber;
            break;
        }

        const void* lineFeed = std::memchr(data + pos + pathOffset, '\n', rest - pathOffset);
        const std::size_t end = lineFeed ? static_cast<std::size_t>(static_cast<const char*>(lineFeed) - data) : size;

        // The digest field and the unexamined character may hold line feeds
        // too; that character may also be the text's last, ending its line.
        const std::size_t lines =
            lineFeedsIn(data + pos, data + pos + pathOffset) + (end == size && text.back() == '\n' ? 0 : 1);
        visit(std::string_view(data + pos, digestLength),
              std::string_view(data + pos + pathOffset, end - pos - pathOffset), lineNumber, lines);
        lineNumber += lines;
        pos = end == size ? size : end + 1;
    }

    manifest.lineCount = lineNumber - 1;
    if (pos < size)
        manifest.lineCount += lineFeedsIn(data + pos, data + size) + (text.back() == '\n' ? 0 : 1);
    return manifest;
}

std::string manifestLine(const std::string& md5Digest, const std::string& path)
{
    return md5Digest + "  " + path + "\n";
}
