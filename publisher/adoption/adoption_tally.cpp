#include "publisher/adoption/adoption_tally.h"

#include <utility>

AdoptionTally::AdoptionTally(std::string channelPath, std::map<std::string, unsigned long long> serialOfManifest)
    : objectsPath_(std::move(channelPath) + "by-hash/"),
      serialOfManifest_(serialOfManifest.begin(), serialOfManifest.end())
{
}

void AdoptionTally::take(std::string_view line)
{
    ++lines_;
    AccessLogLine& parsed = line_;
    if (!parseAccessLogLine(line, parsed)) {
        ++skipped_;
        return;
    }
    // Other channels, other files and other methods are the server's business, not a start.
    if (parsed.method != "GET" || parsed.path.compare(0, objectsPath_.size(), objectsPath_) != 0)
        return;
    const auto release = serialOfManifest_.find(std::string_view(parsed.path).substr(objectsPath_.size()));
    if (release == serialOfManifest_.end())
        return;
    std::map<unsigned long long, StartCounts>& day = days_[parsed.day];
    for (const auto& kept : serialOfManifest_)  // every kept release on each day shown, 0 included
        day.try_emplace(kept.second);
    StartCounts& counts = day[release->second];
    ++counts.starts;
    if (parsed.status >= 400)
        ++counts.errors;
}
