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

// "DD/Mon/YYYY:HH:MM:SS +ZZZZ" as the UTC day it falls on.
bool parseLogTime(std::string_view text, long long& day)
{
    const int month = monthOf(text.size() == 26 ? text.substr(3, 3) : std::string_view());
    if (month == 0 || text[2] != '/' || text[6] != '/' || text[11] != ':' || text[20] != ' ' ||
        (text[21] != '+' && text[21] != '-') || !isDigits(text.substr(22, 4)))
        return false;
    const std::string utcForm = std::string(text.substr(7, 4)) + "-" + (month < 10 ? "0" : "") +
                                std::to_string(month) + "-" + std::string(text.substr(0, 2)) + "T" +
                                std::string(text.substr(12, 8)) + "Z";
    long long local = 0;
    if (!parseUtcTime(utcForm, local))
        return false;
    const int hours = (text[22] - '0') * 10 + (text[23] - '0');
    const int minutes = (text[24] - '0') * 10 + (text[25] - '0');
    if (minutes > 59)
        return false;
    const long long offset = (hours * 60LL + minutes) * 60 * (text[21] == '-' ? -1 : 1);
    const long long utc = local - offset;
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
std::string pathOf(std::string_view target)
{
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (target.substr(0, scheme.size()) == scheme) {
            const std::size_t slash = target.find('/', scheme.size());
            target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        }
    }
    target = target.substr(0, target.find_first_of("?#"));
    std::string path;
    path.reserve(target.size());
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
    return path;
}

// "METHOD TARGET VERSION"; anything else (a "-" or a bad client's bytes) is
// a line the server wrote rightly, of a request that asked for nothing.
void readRequest(std::string_view request, AccessLogLine& parsed)
{
    std::string_view method;
    std::string_view target;
    std::string_view version;
    if (takeToken(request, method) && takeToken(request, target) && takeToken(request, version) &&
        request.empty() && version.substr(0, 5) == "HTTP/") {
        parsed.method = std::string(method);
        parsed.path = pathOf(target);
    }
}

}  // namespace

bool parseAccessLogLine(std::string_view line, AccessLogLine& parsed)
{
    parsed = AccessLogLine();
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
    return rest.empty() ||
           (takeQuoted(rest, referer) && takeBlank(rest) && takeQuoted(rest, agent) && (rest.empty() || rest[0] == ' '));
}
