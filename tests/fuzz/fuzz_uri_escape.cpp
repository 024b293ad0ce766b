// The escaping of a manifest path into a request line.
#include "launcher/http/uri_escape.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool allowedAsIs(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr("-._~!$&'()*+,;=:@/", c) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path(reinterpret_cast<const char*>(data), size);
    const std::string escaped = escapeUriPath(path);
    std::string unescaped;
    for (std::string::size_type i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == '%') {
            FUZZ_CHECK(i + 2 < escaped.size());
            const int high = hexValue(escaped[i + 1]);
            const int low = hexValue(escaped[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            const char byte = static_cast<char>(high * 16 + low);
            FUZZ_CHECK(!allowedAsIs(byte));  // only what needs it is escaped
            unescaped += byte;
            i += 2;
        } else {
            FUZZ_CHECK(allowedAsIs(escaped[i]));
            unescaped += escaped[i];
        }
    }
    FUZZ_CHECK(unescaped == path);
    return 0;
}
