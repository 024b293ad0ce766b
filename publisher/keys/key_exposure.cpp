#include "publisher/keys/key_exposure.h"

#include "publisher/keys/secret_key.h"

#include <sys/stat.h>
#include <unistd.h>

#include <sodium.h>

#include <cctype>
#include <cstring>
#include <deque>

namespace {

// A key file is about 130 bytes; a larger file is no copy of one.
const off_t largestKeyFileBytes = 4096;

bool isBase64Character(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '/' || c == '=';
}

// A secret key's 64 bytes end with its public key: a run of base64 that
// decodes to them is the secret of `key`.
bool holdsSecretOf(const std::string& text, const ReleaseKey& key)
{
    const std::size_t encodedLength = 88;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at;
        while (end < text.size() && isBase64Character(text[end]))
            ++end;
        unsigned char secret[SecretKey::size];
        if (end - at == encodedLength && decodeBase64(text.data() + at, encodedLength, secret, sizeof secret) &&
            key.publicKey.compare(0, std::string::npos, reinterpret_cast<const char*>(secret) + 32, 32) == 0) {
            sodium_memzero(secret, sizeof secret);
            return true;
        }
        sodium_memzero(secret, sizeof secret);
        at = end + 1;
    }
    return false;
}

bool readsAsKey(const ChannelDirectory& channel, const std::string& path, const ReleaseKey& key)
{
    const ScopedDescriptor file(channel.openForReading(path));
    std::string text(largestKeyFileBytes, '\0');
    const ssize_t read = file.get() < 0 ? -1 : ::read(file.get(), &text[0], text.size());
    text.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
    const bool found = text.find(secretKeyFileMarker) != std::string::npos || holdsSecretOf(text, key);
    sodium_memzero(&text[0], text.size());
    return found;
}

}  // namespace

std::vector<std::string> secretKeysInChannel(const ChannelDirectory& channel, const std::filesystem::path& keyFile,
                                             const ReleaseKey& key)
{
    struct stat keyFacts {};
    const bool keyKnown = ::stat(keyFile.c_str(), &keyFacts) == 0;
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
                     ((keyKnown && facts.st_dev == keyFacts.st_dev && facts.st_ino == keyFacts.st_ino) ||
                      (facts.st_size <= largestKeyFileBytes && readsAsKey(channel, path, key))))
                found.push_back(channel.shown(path));
        }
    }
    return found;
}

std::string exposedKeyProblem(const ChannelDirectory& channel, const std::filesystem::path& keyFile,
                              const ReleaseKey& key)
{
    const std::vector<std::string> exposed = secretKeysInChannel(channel, keyFile, key);
    if (exposed.empty())
        return std::string();
    return "a secret key lies inside the channel, where the web server serves it to anyone: " + exposed.front() +
           (exposed.size() > 1 ? " and " + std::to_string(exposed.size() - 1) + " more" : "") +
           "; remove it, and make a new key if it may have been fetched";
}
