#include "channel/utf8.h"

std::size_t decodeUtf8(const std::string& text, std::size_t at, char32_t& codePoint)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    if (byte < 0x80) {
        codePoint = byte;
        return 1;
    }
    if (byte >= 0xc2 && byte <= 0xdf) {
        length = 2;
        codePoint = byte & 0x1fu;
    } else if (byte >= 0xe0 && byte <= 0xef) {
        length = 3;
        codePoint = byte & 0x0fu;
    } else if (byte >= 0xf0 && byte <= 0xf4) {
        length = 4;
        codePoint = byte & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto continuation = static_cast<unsigned char>(text[at + k]);
        if ((continuation & 0xc0u) != 0x80u)
            return 0;
        codePoint = (codePoint << 6) | (continuation & 0x3fu);
    }
    static const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < smallest[length] || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
        return 0;
    return length;
}

void encodeUtf8(char32_t codePoint, std::string& out)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xc0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3f));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xe0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (codePoint & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (codePoint & 0x3f));
    }
}

bool isDirectionMark(char32_t codePoint)
{
    return codePoint == 0x061c || codePoint == 0x200e || codePoint == 0x200f ||
           (codePoint >= 0x202a && codePoint <= 0x202e) || (codePoint >= 0x2066 && codePoint <= 0x2069);
}
