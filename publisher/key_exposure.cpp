#include "publisher/key_exposure.h"

#include "publisher/secret_key.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <deque>

namespace {

// A key file is about 130 bytes; a larger file is no copy of one.
const off_t largestKeyFileBytes = 4096;

bool readsAsKeyFile(const ChannelDirectory& channel, const std::string& path)
{
    const ScopedDescriptor file(channel.openForReading(path));
    std::string start(std::strlen(secretKeyFileMarker), '\0');
    return file.get() >= 0 && ::read(file.get(), &start[0], start.size()) == static_cast<ssize_t>(start.size()) &&
           start == secretKeyFileMarker;
}

}  // namespace

std::vector<std::string> secretKeysInChannel(const ChannelDirectory& channel, const std::filesystem::path& keyFile)
{
    struct stat key {};
    const bool keyKnown = ::stat(keyFile.c_str(), &key) == 0;
    std::vector<std::string> found;
    std::deque<std::string> directories{""};
    while (!directories.empty()) {
        const std::string directory = directories.front();
        directories.pop_front();
        std::vector<std::string> names;
        channel.list(directory, names);
        for (const std::string& name : names) {
            const std::string path = directory.empty() ? name : directory + "/" + name;
            struct stat facts {};
            if (!channel.statOf(path, facts))
                continue;
            if (S_ISDIR(facts.st_mode))
                directories.push_back(path);
            else if (S_ISREG(facts.st_mode) &&
                     ((keyKnown && facts.st_dev == key.st_dev && facts.st_ino == key.st_ino) ||
                      (facts.st_size <= largestKeyFileBytes && readsAsKeyFile(channel, path))))
                found.push_back(channel.shown(path));
        }
    }
    return found;
}
