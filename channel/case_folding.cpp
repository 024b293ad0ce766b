#include "channel/case_folding.h"

#include "channel/case_folding_table.h"

#include <algorithm>

namespace {

// The code point at `text[i]` and its length in bytes; 0 for a byte that
// does not start well-formed UTF-8.
std::size_t decode(const std::string& text, std::size_t i, char32_t& codePoint)
{
    const auto byte = static_cast<unsigned char>(text[i]);
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
    if (text.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto continuation = static_cast<unsigned char>(text[i + k]);
        if ((continuation & 0xc0u) != 0x80u)
            return 0;
        codePoint = (codePoint << 6) | (continuation & 0x3fu);
    }
    static const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < smallest[length] || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
        return 0;
    return length;
}

void encode(char32_t codePoint, std::string& out)
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

char32_t folded(char32_t codePoint)
{
    const CaseFoldingPair* end = caseFoldingPairs + caseFoldingPairCount;
    const CaseFoldingPair* found = std::lower_bound(
        caseFoldingPairs, end, codePoint, [](const CaseFoldingPair& pair, char32_t key) { return pair.from < key; });
    return found != end && found->from == codePoint ? found->to : codePoint;
}

}  // namespace

std::string foldedCase(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t codePoint = 0;
        const std::size_t length = decode(utf8, i, codePoint);
        if (length == 0) {
            out += utf8[i++];
            continue;
        }
        encode(folded(codePoint), out);
        i += length;
    }
    return out;
}
