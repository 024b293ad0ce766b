#include "publisher/folder/private_folders.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

bool makePrivateFolders(const fs::path& directory, std::string& failure)
{
    fs::path made;
    for (const fs::path& part : fs::absolute(directory)) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
            failure = "cannot create " + made.string() + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}
