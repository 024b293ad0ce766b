#include "channel/manifest_path.h"

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

}  // namespace

bool isSafeManifestPath(const std::string& path)
{
    if (path.empty() || path[0] == '/')
        return false;
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("\\:<>\"|?*", c) != nullptr)
            return false;
    }
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = path.find('/', start);
        const std::string segment = path.substr(start, (end == std::string::npos ? path.size() : end) - start);
        if (segment == ".." || !windowsCanHold(segment))
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}
