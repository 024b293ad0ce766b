#include "platform/parent_directories.h"

#include "platform/platform.h"

bool createParentDirectories(const std::string& path)
{
    for (std::string::size_type slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (slash > 0 && !platform::makeDirectory(path.substr(0, slash).c_str()))
            return false;
    }
    return true;
}
