#include "publisher/folder/resolved_path.h"

#include <system_error>

namespace fs = std::filesystem;

bool resolvedPath(const fs::path& path, fs::path& resolved, std::string& failure)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (!error)
        resolved = fs::weakly_canonical(absolute, error);
    if (error) {
        failure = "cannot resolve " + path.string() + ": " + error.message();
        return false;
    }
    if (!resolved.has_filename())
        resolved = resolved.parent_path();
    return true;
}
