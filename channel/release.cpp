#include "channel/release.h"

#include "channel/utc_time.h"
#include "digest/sha256.h"

#include <sodium.h>

#include <set>

namespace {

const char* const formatLine = "orn-release 1";
const char* const stagedFormatLine = "orn-staged-release 1";

bool parseNumber(const std::string& text, unsigned long long& value)
{
    return parseSignedNumber(text, largestReleaseSerial, value);
}

// Splits "keyword rest" off a line; false when the keyword does not open it.
bool field(const std::string& line, const std::string& keyword, std::string& rest)
{
    if (line.compare(0, keyword.size() + 1, keyword + " ") != 0)
        return false;
    rest = line.substr(keyword.size() + 1);
    return true;
}

// "file SHA256HEX SIZE PATH"
bool parseFileLine(const std::string& rest, ReleaseEntry& entry)
{
    if (rest.size() < 67 || rest[64] != ' ')
        return false;
    entry.sha256 = rest.substr(0, 64);
    const std::string::size_type sizeEnd = rest.find(' ', 65);
    if (!isSha256Hex(entry.sha256) || sizeEnd == std::string::npos ||
        !parseNumber(rest.substr(65, sizeEnd - 65), entry.size))
        return false;
    entry.path = rest.substr(sizeEnd + 1);
    return !entry.path.empty();
}

// "orn-release 1", or a later minor format "orn-release 1.N": what a launcher
// does not know in it, it may ignore. Another major format it may not.
bool isFormatLine(const std::string& line, const char* format)
{
    if (line == format)
        return true;
    const std::string minorPrefix = std::string(format) + ".";
    unsigned long long minor = 0;
    return line.compare(0, minorPrefix.size(), minorPrefix) == 0 && parseNumber(line.substr(minorPrefix.size()), minor);
}

bool isKeyword(const std::string& keyword)
{
    if (keyword.empty())
        return false;
    for (const char c : keyword) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    }
    return true;
}

}  // namespace

bool parseSignedNumber(const std::string& text, unsigned long long largest, unsigned long long& value)
{
    if (text.empty() || text.size() > 19 || (text[0] == '0' && text.size() > 1))
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= largest;
}

std::string releaseBody(const Release& release)
{
    std::string body = std::string(release.staged ? stagedFormatLine : formatLine) + "\n";
    body += "channel " + release.channel + "\n";
    body += "serial " + std::to_string(release.serial) + "\n";
    if (release.expires)
        body += "expires " + utcTimeText(release.expiresAt) + "\n";
    body += "md5sums-sha256 " + release.manifestSha256 + "\n";
    for (const ReleaseEntry& entry : release.files)
        body += "file " + entry.sha256 + " " + std::to_string(entry.size) + " " + entry.path + "\n";
    return body;
}

bool parseReleaseBody(const std::string& body, Release& release)
{
    release = Release();
    std::string::size_type start = body.find('\n');
    if (start == std::string::npos)
        return false;
    release.staged = isFormatLine(body.substr(0, start), stagedFormatLine);
    if (!release.staged && !isFormatLine(body.substr(0, start), formatLine))
        return false;
    ++start;
    std::set<std::string> seen;  // the keywords that a release states once
    std::set<std::string> paths;
    while (start < body.size()) {
        const std::string::size_type end = body.find('\n', start);
        if (end == std::string::npos)
            return false;  // every line ends with a line feed
        const std::string line = body.substr(start, end - start);
        start = end + 1;
        const std::string::size_type blank = line.find(' ');
        const std::string keyword = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        if (!isKeyword(keyword))
            return false;
        if (keyword == "file") {
            ReleaseEntry entry;
            if (!parseFileLine(rest, entry) || !paths.insert(entry.path).second)
                return false;
            release.files.push_back(entry);
            continue;
        }
        const bool known =
            keyword == "channel" || keyword == "serial" || keyword == "expires" || keyword == "md5sums-sha256";
        if (!known)
            continue;  // a later kind of line: signed, so only the key holder wrote it
        if (!seen.insert(keyword).second)
            return false;
        if (keyword == "channel")
            release.channel = rest;
        else if (keyword == "serial" && !parseNumber(rest, release.serial))
            return false;
        else if (keyword == "expires" && !parseUtcTime(rest, release.expiresAt))
            return false;
        else if (keyword == "md5sums-sha256")
            release.manifestSha256 = rest;
        release.expires = release.expires || keyword == "expires";
    }
    return seen.count("channel") == 1 && !release.channel.empty() && seen.count("serial") == 1 &&
           isSha256Hex(release.manifestSha256);
}

bool splitSignedRelease(const std::string& text, std::string& body, std::string& keyId, std::string& signature)
{
    if (text.empty() || text.back() != '\n')
        return false;
    const std::string::size_type previous = text.rfind('\n', text.size() - 2);
    const std::string::size_type lineStart = previous == std::string::npos ? 0 : previous + 1;
    const std::string line = text.substr(lineStart, text.size() - 1 - lineStart);
    std::string rest;
    if (!field(line, "signature", rest))
        return false;
    const std::string::size_type blank = rest.find(' ');
    if (blank == std::string::npos || !fromBase64(rest.substr(blank + 1), crypto_sign_BYTES, signature))
        return false;
    keyId = rest.substr(0, blank);
    body = text.substr(0, lineStart);
    return true;
}

bool verifySignedRelease(const std::string& text, const std::vector<ReleaseKey>& keys, std::string& body)
{
    std::string keyId;
    std::string signature;
    std::string signedBody;
    if (!splitSignedRelease(text, signedBody, keyId, signature))
        return false;
    for (const ReleaseKey& key : keys) {
        if (key.id == keyId &&
            crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.data()),
                                        reinterpret_cast<const unsigned char*>(signedBody.data()), signedBody.size(),
                                        reinterpret_cast<const unsigned char*>(key.publicKey.data())) == 0) {
            body = signedBody;
            return true;
        }
    }
    return false;
}
