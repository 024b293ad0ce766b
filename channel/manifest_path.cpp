#include "channel/manifest_path.h"

#include "channel/utf8.h"

#include <cctype>
#include <cstring>

namespace {

bool isDeviceName(const std::string& stem)
{
    std::string upper;
    for (const char c : stem)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL")
        return true;
    return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

// Windows drops a trailing "." or blank (so the name would alias another
// file) and opens a device for a reserved name, with any extension.
bool windowsCanHold(const std::string& segment)
{
    if (segment.empty() || segment.back() == '.' || segment.back() == ' ')
        return false;
    return !isDeviceName(segment.substr(0, segment.find('.')));
}

// Strict UTF-8; counts the UTF-16 units that Windows' wide names take.
bool isUtf8(const std::string& text, std::size_t& utf16Units)
{
    utf16Units = 0;
    for (std::size_t i = 0; i < text.size();) {
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text, i, codePoint);
        if (length == 0)
            return false;
        utf16Units += codePoint >= 0x10000 ? 2 : 1;
        i += length;
    }
    return true;
}

}  // namespace

bool isSafeManifestPath(const std::string& path)
{
    std::size_t utf16Units = 0;
    if (path.empty() || path[0] == '/' || !isUtf8(path, utf16Units) || utf16Units > longestManifestPathUtf16)
        return false;
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\\:<>\"|?*", c) != nullptr)
            return false;
    }
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = path.find('/', start);
        const std::string segment = path.substr(start, (end == std::string::npos ? path.size() : end) - start);
        if (segment == ".." || !windowsCanHold(segment) || segment.size() > longestManifestSegmentBytes)
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}
