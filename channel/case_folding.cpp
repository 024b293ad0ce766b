#include "channel/case_folding.h"

#include "channel/case_folding_table.h"
#include "channel/utf8.h"

#include <algorithm>
#include <cctype>

namespace {

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
        const std::size_t length = decodeUtf8(utf8, i, codePoint);
        if (length == 0) {
            out += utf8[i++];
            continue;
        }
        encodeUtf8(folded(codePoint), out);
        i += length;
    }
    return out;
}

std::string lowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}
