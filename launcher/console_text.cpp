#include "launcher/console_text.h"

#include <cstddef>

namespace {

const unsigned char escape = 0x1b;
const unsigned char bell = 0x07;

bool isContinuation(unsigned char byte)
{
    return (byte & 0xc0) == 0x80;
}

// Marks that turn the text around them right to left: what follows would not read as sent.
bool isDirectionControl(unsigned long codePoint)
{
    return codePoint == 0x061c || codePoint == 0x200e || codePoint == 0x200f ||
           (codePoint >= 0x202a && codePoint <= 0x202e) || (codePoint >= 0x2066 && codePoint <= 0x2069);
}

// The length of the UTF-8 character at `at` with its code point; 0 when the bytes there are not one.
std::size_t utf8Character(const std::string& text, std::size_t at, unsigned long& codePoint)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    unsigned long smallest = 0;
    if (lead < 0x80)
        return codePoint = lead, 1;
    if ((lead & 0xe0) == 0xc0)
        length = 2, codePoint = lead & 0x1f, smallest = 0x80;
    else if ((lead & 0xf0) == 0xe0)
        length = 3, codePoint = lead & 0x0f, smallest = 0x800;
    else if ((lead & 0xf8) == 0xf0)
        length = 4, codePoint = lead & 0x07, smallest = 0x10000;
    else
        return 0;
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[at + i]);
        if (!isContinuation(byte))
            return 0;
        codePoint = codePoint << 6 | (byte & 0x3f);
    }
    const bool surrogate = codePoint >= 0xd800 && codePoint <= 0xdfff;
    return codePoint < smallest || codePoint > 0x10ffff || surrogate ? 0 : length;
}

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
        unsigned long codePoint = 0;
        const std::size_t length = utf8Character(text, at, codePoint);
        if (length == 0) {
            ++at;
            continue;
        }
        const bool lineBreak = codePoint == '\n' || codePoint == '\r' || codePoint == '\t' || codePoint == 0x2028 ||
                               codePoint == 0x2029;
        if (lineBreak)
            shown += ' ';
        else if (codePoint >= 0x20 && !(codePoint >= 0x7f && codePoint <= 0x9f) && !isDirectionControl(codePoint))
            shown.append(text, at, length);
        at += length;
    }
    const std::size_t first = shown.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : shown.substr(first, shown.find_last_not_of(' ') - first + 1);
}
