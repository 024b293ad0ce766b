#include "publisher/shown_text.h"

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
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c1 = byte == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9f;
        if (c1) {
            appendEscaped(shown, byte);
            appendEscaped(shown, static_cast<unsigned char>(text[++i]));
        } else if (byte < 0x20 || byte == 0x7f) {
            appendEscaped(shown, byte);
        } else {
            shown += text[i];
        }
    }
    return shown;
}
