#include "publisher/state/kept_releases_record.h"

#include "channel/content_address.h"
#include "publisher/state/state_directory.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace {

// Version 1 named objects without their sizes, version 2 no files; both are still read.
const char* const recordHeaders[] = {"orn-publish kept releases 1", "orn-publish kept releases 2",
                                     "orn-publish kept releases 3"};
const std::size_t recordVersions = sizeof recordHeaders / sizeof recordHeaders[0];
const char* const recordSuffix = ".releases";
const std::size_t recordLimitBytes = 256u << 20;

bool parseNumber(const std::string& text, unsigned long long& number)
{
    char* end = nullptr;
    number = std::strtoull(text.c_str(), &end, 10);
    return !text.empty() && text[0] >= '0' && text[0] <= '9' && *end == '\0' && number != unknownObjectSize;
}

// "SHA256 SIZE PATH", the path last: it may hold blanks.
bool parseFileLine(const std::string& text, std::vector<ReleaseEntry>& files)
{
    const std::string::size_type first = text.find(' ');
    const std::string::size_type second = first == std::string::npos ? first : text.find(' ', first + 1);
    ReleaseEntry file;
    if (second == std::string::npos || !parseNumber(text.substr(first + 1, second - first - 1), file.size))
        return false;
    file.sha256 = text.substr(0, first);
    file.path = text.substr(second + 1);
    files.push_back(file);
    return isObjectName(file.sha256) && !file.path.empty();
}

}  // namespace

std::string keptReleasesText(const std::vector<KeptRelease>& releases, const std::string& channelPath)
{
    std::string text = std::string(recordHeaders[recordVersions - 1]) + "\nchannel " + channelPath + "\n";
    for (const KeptRelease& release : releases) {
        text += "release " + std::to_string(release.serial) + "\n";
        for (const auto& [name, size] : release.objects)
            text += name + (size == unknownObjectSize ? "" : " " + std::to_string(size)) + "\n";
        for (const ReleaseEntry& file : release.files)
            text += "file " + file.sha256 + " " + std::to_string(file.size) + " " + file.path + "\n";
    }
    return text;
}

bool parseKeptReleases(const std::string& text, const std::string& channelPath, std::vector<KeptRelease>& releases)
{
    releases.clear();
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) ||
        std::find(recordHeaders, recordHeaders + recordVersions, line) == recordHeaders + recordVersions ||
        !std::getline(lines, line) || line != "channel " + channelPath)
        return false;
    while (std::getline(lines, line)) {
        const std::string::size_type blank = line.find(' ');
        const std::string first = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
        unsigned long long number = unknownObjectSize;
        if (first == "release" && parseNumber(rest, number))
            releases.push_back({number, {}, {}});
        else if (first == "file" && !releases.empty() && parseFileLine(rest, releases.back().files))
            continue;
        else if (isObjectName(first) && !releases.empty() && (blank == std::string::npos || parseNumber(rest, number)))
            releases.back().objects[first] = number;
        else
            return false;
    }
    return !text.empty() && text.back() == '\n';
}

bool readKeptReleases(const std::string& channelPath, const std::string& shownChannel,
                      std::vector<KeptRelease>& releases, bool& found, std::string& failure)
{
    std::string file;
    std::string text;
    releases.clear();
    if (!readStateFile(channelPath, recordSuffix, recordLimitBytes, text, found, file, failure))
        return false;
    if (found && !parseKeptReleases(text, channelPath, releases)) {
        failure = "the record of the releases kept in " + shownChannel + ", " + file + ", cannot be read";
        releases.clear();
        return false;
    }
    return true;
}

bool writeKeptReleases(const std::string& channelPath, const std::vector<KeptRelease>& releases, std::string& failure)
{
    std::string file;
    return writeStateFile(channelPath, recordSuffix, keptReleasesText(releases, channelPath), file, failure);
}
