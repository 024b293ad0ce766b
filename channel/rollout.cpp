#include "channel/rollout.h"

#include "channel/content_address.h"
#include "channel/utc_time.h"
#include "digest/sha256.h"

#include <vector>

namespace {

const char* const stagedWord = "staged";

std::vector<std::string> wordsOf(const std::string& text)
{
    std::vector<std::string> words;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type blank = text.find(' ', start);
        words.push_back(text.substr(start, blank - start));
        if (blank == std::string::npos)
            return words;
        start = blank + 1;
    }
}

bool parseRolloutPath(const ReleaseEntry& entry, Rollout& rollout)
{
    const std::vector<std::string> words = wordsOf(entry.path);
    if ((words.size() != 4 && words.size() != 6) || words[0] != objectPathOf(entry.sha256) || words[1] != stagedWord ||
        !isSha256Hex(words[2]))
        return false;
    rollout = Rollout();
    rollout.stagedSha256 = entry.sha256;
    rollout.stagedSize = entry.size;
    rollout.stagedManifestSha256 = words[2];
    unsigned long long number = 0;
    if (!parseSignedNumber(words[3], rolloutWholeShare, number))
        return false;
    rollout.sharePpm = static_cast<unsigned long>(number);
    if (words.size() == 4)
        return true;
    rollout.scheduled = true;
    if (!parseUtcTime(words[4], rollout.since) || !parseSignedNumber(words[5], longestRolloutDays, number) ||
        number == 0)
        return false;
    rollout.days = static_cast<unsigned>(number);
    return true;
}

}  // namespace

ReleaseEntry rolloutEntry(const Rollout& rollout)
{
    std::string path = objectPathOf(rollout.stagedSha256) + " " + stagedWord + " " + rollout.stagedManifestSha256 +
                       " " + std::to_string(rollout.sharePpm);
    if (rollout.scheduled)
        path += " " + utcTimeText(rollout.since) + " " + std::to_string(rollout.days);
    return {rollout.stagedSha256, rollout.stagedSize, path};
}

bool isRolloutEntry(const ReleaseEntry& entry)
{
    const std::string prefix = objectPathOf(entry.sha256) + " " + stagedWord + " ";
    return entry.path.compare(0, prefix.size(), prefix) == 0;
}

bool rolloutOf(const Release& release, Rollout& rollout)
{
    int found = 0;
    bool wellFormed = true;
    for (const ReleaseEntry& entry : release.files) {
        if (isRolloutEntry(entry)) {
            ++found;
            wellFormed = parseRolloutPath(entry, rollout) && wellFormed;
        }
    }
    return found == 1 && wellFormed;
}

unsigned long rolloutShareAt(const Rollout& rollout, long long now)
{
    if (!rollout.scheduled)
        return rollout.sharePpm;
    const long long days = now <= rollout.since ? 0 : (now - rollout.since) / secondsPerDay;
    const unsigned long long step = days >= rollout.days ? rollout.days : static_cast<unsigned long long>(days);
    return rollout.sharePpm + static_cast<unsigned long>((rolloutWholeShare - rollout.sharePpm) * step / rollout.days);
}

long long rolloutCompleteAt(const Rollout& rollout)
{
    return rollout.since + static_cast<long long>(rollout.days) * secondsPerDay;
}

bool parseSharePercent(const std::string& text, unsigned long& ppm)
{
    const std::string::size_type point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
    unsigned long long percent = 0;
    unsigned long long parts = 0;
    if (!parseSignedNumber(whole, 100, percent) || fraction.size() > 4 ||
        (point != std::string::npos && fraction.empty()))
        return false;
    for (const char c : fraction) {
        if (c < '0' || c > '9')
            return false;
    }
    if (!fraction.empty())
        parts = std::stoull(fraction + std::string(4 - fraction.size(), '0'));
    ppm = static_cast<unsigned long>(percent * 10000 + parts);
    return ppm <= rolloutWholeShare;
}

std::string sharePercentText(unsigned long ppm)
{
    std::string text = std::to_string(ppm / 10000);
    std::string fraction = std::to_string(10000 + ppm % 10000).substr(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    if (!fraction.empty())
        text += "." + fraction;
    return text + "%";
}

bool isInstallId(const std::string& text)
{
    if (text.size() != 32)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

namespace {

// The id's first 32 bits: where it falls in [0, 2^32).
unsigned long long placeBits(const std::string& installId)
{
    return isInstallId(installId) ? std::stoull(installId.substr(0, 8), nullptr, 16) : 0xffffffffULL;
}

}  // namespace

unsigned long installIdPlace(const std::string& installId)
{
    return static_cast<unsigned long>(placeBits(installId) * rolloutWholeShare >> 32);
}

bool isInRolloutGroup(const std::string& installId, unsigned long sharePpm)
{
    return isInstallId(installId) &&
           placeBits(installId) * rolloutWholeShare < static_cast<unsigned long long>(sharePpm) << 32;
}
