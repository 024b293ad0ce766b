#include "index/digest_cache.h"

#include "digest/md5.h"
#include "platform/platform.h"
#include "index/text_file.h"

#include <fstream>
#include <sstream>

namespace {

const char* const formatLine = "orn-digest-cache 1";

}  // namespace

void DigestCache::load(const std::string& fileName)
{
    entries_.clear();
    std::ifstream in;
    platform::openForReading(in, fileName);
    std::ostringstream bytes;
    if (!(bytes << in.rdbuf()))
        return;
    const std::string text = bytes.str();
    // The last line is the checksum of everything before it: a cut or changed cache is not used.
    if (text.size() < 34 || text.back() != '\n')
        return;
    const std::string::size_type checksumStart = text.rfind('\n', text.size() - 2) + 1;
    if (checksumStart == 0 ||
        md5Hex(text.substr(0, checksumStart)) != text.substr(checksumStart, text.size() - 1 - checksumStart))
        return;
    std::istringstream lines(text.substr(0, checksumStart));
    std::string line;
    if (!std::getline(lines, line) || line != formatLine)
        return;
    std::unordered_map<std::string, Entry> entries;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        Entry entry;
        fields >> entry.digest >> entry.facts.size >> entry.facts.modifiedNs >> entry.facts.changedNs >>
            entry.facts.device >> entry.facts.identity >> entry.recordedNs;
        std::string path;
        if (!fields || fields.get() != ' ' || !std::getline(fields, path) || path.empty() || entry.digest.size() != 32)
            return;
        entries[path] = entry;
    }
    entries_.swap(entries);
}

bool DigestCache::lookup(const std::string& path, const platform::FileFacts& facts, std::string& digest) const
{
    const auto found = entries_.find(path);
    if (found == entries_.end() || !(found->second.facts == facts) ||
        facts.modifiedNs > found->second.recordedNs - digestCacheSettleNs)
        return false;
    digest = found->second.digest;
    return true;
}

void DigestCache::record(const std::string& path, const platform::FileFacts& facts, const std::string& digest,
                         long long recordedNs)
{
    entries_[path] = Entry{facts, recordedNs, digest};
}

bool DigestCache::save(const std::string& fileName, const std::unordered_map<std::string, std::string>& listed) const
{
    std::string text = std::string(formatLine) + "\n";
    for (const auto& entry : entries_) {
        if (listed.count(entry.first) == 0)
            continue;  // no longer listed: dropped, so the cache stays as large as the manifest
        const platform::FileFacts& facts = entry.second.facts;
        text += entry.second.digest + " " + std::to_string(facts.size) + " " + std::to_string(facts.modifiedNs) + " " +
                std::to_string(facts.changedNs) + " " + std::to_string(facts.device) + " " +
                std::to_string(facts.identity) + " " + std::to_string(entry.second.recordedNs) + " " + entry.first +
                "\n";
    }
    text += md5Hex(text) + "\n";
    return replaceWithText(fileName, text);
}
