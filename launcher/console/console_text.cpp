#include "launcher/console/console_text.h"

#include "channel/utf8.h"

#include <cstddef>

namespace {

const unsigned char escape = 0x1b;
const unsigned char bell = 0x07;

// Where the escape sequence that starts at `at` ends (one past its last byte).
std::size_t endOfEscapeSequence(const std::string& text, std::size_t at)
{
    std::size_t next = at + 1;
    if (next >= text.size())
        return next;
    const char kind = text[next++];
    if (kind == '[') {  // parameters and intermediates, then one final byte
        while (next < text.size() && static_cast<unsigned char>(text[next]) >= 0x20 &&
               static_cast<unsigned char>(text[next]) <= 0x3f)
            ++next;
        return next < text.size() ? next + 1 : next;
    }
    if (kind == ']' || kind == 'P' || kind == 'X' || kind == '^' || kind == '_') {  // a string up to BEL or ESC '\'
        while (next < text.size()) {
            const auto byte = static_cast<unsigned char>(text[next++]);
            if (byte == bell)
                break;
            if (byte == escape) {
                if (next < text.size() && text[next] == '\\')
                    ++next;
                break;
            }
        }
        return next;
    }
    return next;
}

}  // namespace

std::string printableOnOneLine(const std::string& text)
{
    std::string shown;
    for (std::size_t at = 0; at < text.size();) {
        if (static_cast<unsigned char>(text[at]) == escape) {
            at = endOfEscapeSequence(text, at);
            continue;
        }
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text, at, codePoint);
        if (length == 0) {
            ++at;
            continue;
        }
        const bool lineBreak =
            codePoint == '\n' || codePoint == '\r' || codePoint == '\t' || codePoint == 0x2028 || codePoint == 0x2029;
        if (lineBreak)
            shown += ' ';
        else if (codePoint >= 0x20 && !(codePoint >= 0x7f && codePoint <= 0x9f) && !isDirectionMark(codePoint))
            shown.append(text, at, length);
        at += length;
    }
    const std::size_t first = shown.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : shown.substr(first, shown.find_last_not_of(' ') - first + 1);
}

std::string proxyFailedText(ProxyFailure failure, const std::string& proxy)
{
    const std::string named = "The proxy at " + printableOnOneLine(proxy);
    if (failure == ProxyFailure::asksForPassword)
        return named + " asks for a password, which this launcher cannot give.";
    return named + " cannot be reached.";
}
