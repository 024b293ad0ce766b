#include "launcher/release/install_id.h"

#include "channel/channel_names.h"
#include "channel/rollout.h"
#include "index/text_file.h"
#include "platform/platform.h"

#include <sodium.h>

#include <fstream>

namespace {

bool readInstallId(std::string& id)
{
    std::ifstream in;
    platform::openForReading(in, installIdFileName);
    char text[34] = {};
    in.read(text, sizeof text);
    const std::string read(text, static_cast<std::size_t>(in.gcount()));
    // The id and one line feed, nothing else: a file changed by hand is made anew.
    if (read.size() != 33 || read.back() != '\n')
        return false;
    id = read.substr(0, 32);
    return isInstallId(id);
}

}  // namespace

InstallId installIdOfGameDirectory()
{
    InstallId made;
    if (readInstallId(made.id))
        return made;
    unsigned char bytes[16];
    if (sodium_init() < 0)
        return made;  // no random source: an empty id, which no rollout's group holds
    randombytes_buf(bytes, sizeof bytes);
    static const char digits[] = "0123456789abcdef";
    made.id.clear();
    for (const unsigned char byte : bytes) {
        made.id += digits[byte >> 4];
        made.id += digits[byte & 15];
    }
    made.madeNow = true;
    made.kept = replaceWithText(installIdFileName, made.id + "\n");
    return made;
}
