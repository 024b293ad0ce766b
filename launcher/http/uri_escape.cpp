#include "launcher/http/uri_escape.h"

#include <cstring>

namespace {

bool standsForItself(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return c != '\0' && std::strchr("-._~!$&'()*+,;=:@/", c) != nullptr;
}

}  // namespace

std::string escapeUriPath(const std::string& path)
{
    static const char hexDigits[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(path.size());
    for (const char byte : path) {
        const unsigned char c = static_cast<unsigned char>(byte);
        if (standsForItself(c)) {
            escaped += byte;
        } else {
            escaped += '%';
            escaped += hexDigits[c >> 4];
            escaped += hexDigits[c & 0x0F];
        }
    }
    return escaped;
}
