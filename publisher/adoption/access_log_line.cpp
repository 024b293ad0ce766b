#include "publisher/adoption/access_log_line.h"

#include "channel/utc_time.h"

#include <cstring>

namespace {

bool isDigits(std::string_view text)
{
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return !text.empty();
}

// The field up to the next blank (or the end), the blank consumed.
bool takeToken(std::string_view& rest, std::string_view& token)
{
    const std::size_t blank = rest.find(' ');
    token = rest.substr(0, blank);
    rest.remove_prefix(blank == std::string_view::npos ? rest.size() : blank + 1);
    return !token.empty();
}

// A quoted field: nginx writes a quote inside as \x22, Apache as \", so a
// backslash always escapes the character after it.
bool takeQuoted(std::string_view& rest, std::string_view& field)
{
    if (rest.empty() || rest[0] != '"')
        return false;
    for (std::size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] == '\\') {
            ++i;
        } else if (rest[i] == '"') {
            field = rest.substr(1, i - 1);
            rest.remove_prefix(i + 1);
            return true;
        }
    }
    return false;
}

bool takeBlank(std::string_view& rest)
{
    if (rest.empty() || rest[0] != ' ')
        return false;
    rest.remove_prefix(1);
    return true;
}

int monthOf(std::string_view name)
{
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    for (int month = 0; month < 12; ++month)
        if (name == std::string_view(months + 3 * month, 3))
            return month + 1;
    return 0;
}

bool twoDigits(std::string_view text, std::size_t at, int most, int& value)
{
    if (!isDigits(text.substr(at, 2)))
        return false;
    value = (text[at] - '0') * 10 + (text[at + 1] - '0');
    return value <= most;
}

// "DD/Mon/YYYY" as the seconds of its midnight. A log's lines come in time
// order, so the last date read is kept: the calendar is asked once a day.
bool localMidnight(std::string_view date, long long& midnight)
{
    thread_local char lastDate[11] = {};
    thread_local long long lastMidnight = 0;
    if (date == std::string_view(lastDate, sizeof lastDate)) {
        midnight = lastMidnight;
        return true;
    }
    const int month = monthOf(date.substr(3, 3));
    if (month == 0 || !isDigits(date.substr(0, 2)) || !isDigits(date.substr(7, 4)) ||
        !parseUtcTime(std::string(date.substr(7, 4)) + (month < 10 ? "-0" : "-") + std::to_string(month) + "-" +
                          std::string(date.substr(0, 2)) + "T00:00:00Z",
                      midnight))
        return false;
    date.copy(lastDate, sizeof lastDate);
    lastMidnight = midnight;
    return true;
}

// "DD/Mon/YYYY:HH:MM:SS +ZZZZ" as the UTC day it falls on.
bool parseLogTime(std::string_view text, long long& day)
{
    int hour = 0;
    int minute = 0;
    int second = 0;
    int zoneHours = 0;
    int zoneMinutes = 0;
    long long midnight = 0;
    if (text.size() != 26 || text[2] != '/' || text[6] != '/' || text[11] != ':' || text[14] != ':' ||
        text[17] != ':' || text[20] != ' ' || (text[21] != '+' && text[21] != '-') || !twoDigits(text, 12, 23, hour) ||
        !twoDigits(text, 15, 59, minute) || !twoDigits(text, 18, 59, second) || !twoDigits(text, 22, 99, zoneHours) ||
        !twoDigits(text, 24, 59, zoneMinutes) || !localMidnight(text.substr(0, 11), midnight))
        return false;
    const long long offset = (zoneHours * 60LL + zoneMinutes) * 60 * (text[21] == '-' ? -1 : 1);
    const long long utc = midnight + hour * 3600LL + minute * 60LL + second - offset;
    day = utc >= 0 ? utc / secondsPerDay : -((-utc + secondsPerDay - 1) / secondsPerDay);
    return true;
}

int hexValue(char c)
{
    const char* digits = "0123456789abcdef0123456789ABCDEF";
    const char* found = c == '\0' ? nullptr : std::strchr(digits, c);
    return found == nullptr ? -1 : static_cast<int>(found - digits) % 16;
}

// The path a target names: a proxy's absolute form loses its scheme and
// host, the query goes, %XX escapes are decoded (a bad one stays as written).
void readPath(std::string_view target, std::string& path)
{
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (target.substr(0, scheme.size()) == scheme) {
            const std::size_t slash = target.find('/', scheme.size());
            target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        }
    }
    target = target.substr(0, target.find_first_of("?#"));
    for (std::size_t i = 0; i < target.size(); ++i) {
        const int high = target[i] == '%' && i + 2 < target.size() ? hexValue(target[i + 1]) : -1;
        const int low = high < 0 ? -1 : hexValue(target[i + 2]);
        if (low < 0) {
            path += target[i];
            continue;
        }
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
}

// "METHOD TARGET VERSION"; anything else (a "-" or a bad client's bytes) is
// a line the server wrote rightly, of a request that asked for nothing.
void readRequest(std::string_view request, AccessLogLine& parsed)
{
    std::string_view method;
    std::string_view target;
    std::string_view version;
    if (takeToken(request, method) && takeToken(request, target) && takeToken(request, version) && request.empty() &&
        version.substr(0, 5) == "HTTP/") {
        parsed.method.assign(method);
        readPath(target, parsed.path);
    }
}

}  // namespace

bool parseAccessLogLine(std::string_view line, AccessLogLine& parsed)
{
    parsed.method.clear();  // its room kept for the next line
    parsed.path.clear();
    std::string_view rest = line;
    std::string_view field;
    if (!takeToken(rest, field) || !takeToken(rest, field) || !takeToken(rest, field) || rest.size() < 28 ||
        rest[0] != '[' || rest[27] != ']' || !parseLogTime(rest.substr(1, 26), parsed.day))
        return false;
    rest.remove_prefix(28);
    std::string_view request;
    std::string_view status;
    std::string_view bytes;
    if (!takeBlank(rest) || !takeQuoted(rest, request) || !takeBlank(rest) || !takeToken(rest, status) ||
        status.size() != 3 || !isDigits(status) || !takeToken(rest, bytes) || (bytes != "-" && !isDigits(bytes)))
        return false;
    parsed.status = (status[0] - '0') * 100 + (status[1] - '0') * 10 + (status[2] - '0');
    readRequest(request, parsed);
    std::string_view referer;
    std::string_view agent;
    return rest.empty() || (takeQuoted(rest, referer) && takeBlank(rest) && takeQuoted(rest, agent) &&
                            (rest.empty() || rest[0] == ' '));
}
