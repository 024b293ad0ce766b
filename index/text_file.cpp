#include "index/text_file.h"

#include "channel/channel_names.h"
#include "platform/platform.h"

#include <fstream>

bool replaceWithText(const std::string& name, const std::string& text)
{
    const std::string temporaryName = name + launcherPartialSuffix;
    // A link left under the temporary name must not be written through.
    platform::removeFile(temporaryName.c_str());
    std::ofstream out;
    platform::openForWriting(out, temporaryName);
    out << text;
    out.close();
    if (out.fail() || !platform::replaceFile(temporaryName.c_str(), name.c_str())) {
        platform::removeFile(temporaryName.c_str());
        return false;
    }
    return true;
}
