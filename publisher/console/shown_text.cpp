#include "publisher/console/shown_text.h"

#include "channel/utf8.h"

#include <cstdio>

namespace {

void appendEscaped(std::string& text, unsigned char byte)
{
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
    text += escaped;
}

}  // namespace

std::string shownText(const std::string& text)
{
    std::string shown;
    for (std::size_t at = 0; at < text.size();) {
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8(text, at, codePoint);
        // A lone byte of 0x80 or more is a C1 control (0x9b opens an escape sequence) to an 8-bit terminal.
        const bool hidden =
            length == 0 || codePoint < 0x20 || (codePoint >= 0x7f && codePoint <= 0x9f) || isDirectionMark(codePoint);
        const std::size_t end = at + (length == 0 ? 1 : length);
        for (; at < end; ++at) {
            if (hidden)
                appendEscaped(shown, static_cast<unsigned char>(text[at]));
            else
                shown += text[at];
        }
    }
    return shown;
}
