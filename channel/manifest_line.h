#pragma once

#include <string>

// One line of the manifest: an md5sum listing entry, digest, two blanks, path.
inline std::string manifestLine(const std::string& md5Digest, const std::string& path)
{
    return md5Digest + "  " + path + "\n";
}
