#include "index/installed_listing.h"

#include "channel/case_folding.h"
#include "channel/channel_names.h"
#include "channel/manifest.h"
#include "index/text_file.h"
#include "platform/platform.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <unordered_set>
#include <vector>

namespace {

const char* const formatLine = "orn-installed 1\n";

bool isFile(const std::string& path)
{
    platform::FileFacts facts;
    return platform::fileFacts(path, facts);
}

bool readRecordText(std::string& text)
{
    platform::FileFacts facts;
    if (!platform::fileFacts(launcherInstalledListingName, facts) || facts.size > channelTextLimitBytes)
        return false;
    std::ifstream in;
    platform::openForReading(in, launcherInstalledListingName);
    std::ostringstream bytes;
    if (!(bytes << in.rdbuf()))
        return false;
    text = bytes.str();
    return text.compare(0, std::string(formatLine).size(), formatLine) == 0;
}

// Sorted, so that the same listing is always the same text.
std::string recordText(const std::unordered_map<std::string, std::string>& listing)
{
    std::vector<std::string> lines;
    lines.reserve(listing.size());
    for (const auto& [path, digest] : listing)
        lines.push_back(manifestLine(digest, path));
    std::sort(lines.begin(), lines.end());
    std::string text = formatLine;
    for (const std::string& line : lines)
        text += line;
    return text;
}

}  // namespace

std::unordered_map<std::string, std::string>
installedListingAfter(const std::unordered_map<std::string, std::string>& before,
                      const std::unordered_map<std::string, std::string>& listed,
                      bool (*stillThere)(const std::string&))
{
    std::unordered_set<std::string> listedFolded;
    for (const auto& entry : listed)
        listedFolded.insert(foldedCase(entry.first));
    std::unordered_map<std::string, std::string> after = listed;
    for (const auto& [path, digest] : before) {
        if (listedFolded.count(foldedCase(path)) == 0 && stillThere(path))
            after.emplace(path, digest);
    }
    return after;
}

bool recordInstalledListing(const std::unordered_map<std::string, std::string>& listed)
{
    std::string held;
    std::unordered_map<std::string, std::string> before;
    if (readRecordText(held))
        before = parseManifest(held.substr(std::string(formatLine).size())).digests;
    const std::string text = recordText(installedListingAfter(before, listed, isFile));
    return text == held || replaceWithText(launcherInstalledListingName, text);
}

bool readInstalledListing(std::unordered_map<std::string, std::string>& listed)
{
    std::string text;
    if (!readRecordText(text))
        return false;
    listed = parseManifest(text.substr(std::string(formatLine).size())).digests;
    return true;
}
