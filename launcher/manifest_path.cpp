#include "launcher/manifest_path.h"

#include "launcher/platform/platform.h"

bool isSafeManifestPath(const std::string& path)
{
    if (path.empty() || path[0] == '/')
        return false;
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '\\' || c == ':')
            return false;
    }
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = path.find('/', start);
        const std::string::size_type length = (end == std::string::npos ? path.size() : end) - start;
        if (path.compare(start, length, "..") == 0)
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

bool createParentDirectories(const std::string& path)
{
    for (std::string::size_type slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (slash > 0 && !platform::makeDirectory(path.substr(0, slash).c_str()))
            return false;
    }
    return true;
}
