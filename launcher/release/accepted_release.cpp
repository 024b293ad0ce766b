#include "launcher/release/accepted_release.h"

#include "channel/manifest.h"
#include "channel/release_check.h"
#include "digest/sha256.h"
#include "index/file_index.h"
#include "index/local_scan.h"
#include "index/game_directory.h"
#include "platform/platform.h"
#include "index/text_file.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace {

const char* const recordFormatLine = "orn-accepted 1";

// The record split into its manifest and release texts; false when it is not one.
bool readRecord(std::string& manifestText, std::string& releaseText)
{
    platform::FileFacts facts;
    if (!platform::fileFacts(acceptedReleaseFileName, facts) || facts.size > 2ull * channelTextLimitBytes + 64)
        return false;
    std::ifstream in;
    platform::openForReading(in, acceptedReleaseFileName);
    std::string format;
    unsigned long long manifestSize = 0;
    if (!std::getline(in, format) || format != recordFormatLine || !(in >> manifestSize) || in.get() != '\n' ||
        manifestSize > channelTextLimitBytes)
        return false;
    manifestText.resize(static_cast<std::size_t>(manifestSize));
    if (manifestSize > 0 && !in.read(&manifestText[0], static_cast<std::streamsize>(manifestSize)))
        return false;
    releaseText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

std::string acceptedReleaseText(const std::string& releaseText, const std::string& manifestText)
{
    return std::string(recordFormatLine) + "\n" + std::to_string(manifestText.size()) + "\n" + manifestText +
           releaseText;
}

bool recordAcceptedRelease(const std::string& text)
{
    platform::FileFacts facts;
    if (platform::fileFacts(acceptedReleaseFileName, facts) && facts.size == text.size()) {
        std::ifstream in;
        platform::openForReading(in, acceptedReleaseFileName);
        std::string held(text.size(), '\0');
        if (!text.empty() && in.read(&held[0], static_cast<std::streamsize>(held.size())) && held == text)
            return true;
    }
    return replaceWithText(acceptedReleaseFileName, text);
}

bool installedIsAcceptedRelease(const std::string& channel, unsigned long long serial,
                                const std::vector<ReleaseKey>& keys, long long now, bool digestCache)
{
    std::string manifestText;
    std::string releaseText;
    Release release;
    if (!readRecord(manifestText, releaseText) || !readSignedRelease(releaseText, keys, release) ||
        release.serial != serial)
        return false;
    Manifest manifest = parseManifest(manifestText);
    if (checkSignedStatement(release, channel, serial, now, manifestText, manifest.digests) != ReleaseVerdict::accepted)
        return false;
    FileIndex index(std::move(manifest));
    DigestCache cache;
    scanLocalFiles(index, scannedFolderList(), digestCache ? &cache : nullptr);  // the record read, never written
    for (const std::string& path : index.changedFiles()) {
        if (path != channelLockName && path != channelManifestName)
            return false;
    }
    return true;
}

bool readAcceptedManifest(const std::string& channel, const std::vector<ReleaseKey>& keys, std::string& manifestText)
{
    Release release;
    return readAcceptedRecord(keys, manifestText, release) && release.channel == channel;
}

bool readAcceptedRecord(const std::vector<ReleaseKey>& keys, std::string& manifestText, Release& release)
{
    std::string releaseText;
    return readRecord(manifestText, releaseText) && readSignedRelease(releaseText, keys, release) &&
           sha256Hex(manifestText) == release.manifestSha256;
}
