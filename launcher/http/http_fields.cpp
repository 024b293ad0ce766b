#include "launcher/http/http_fields.h"

namespace {

// Reads a run of decimal digits at `pos`; false when there is none or it overflows.
bool readNumber(const std::string& text, std::string::size_type& pos, unsigned long long& value)
{
    const std::string::size_type start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        const unsigned long long digit = static_cast<unsigned long long>(text[pos] - '0');
        if (value > (~0ULL - digit) / 10)
            return false;
        value = value * 10 + digit;
        ++pos;
    }
    return pos > start;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

void skipBlanks(const std::string& text, std::string::size_type& pos)
{
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
}

}  // namespace

bool parseContentLength(const std::string& field, unsigned long long& length)
{
    std::string::size_type pos = 0;
    skipBlanks(field, pos);
    if (!readNumber(field, pos, length))
        return false;
    skipBlanks(field, pos);
    return pos == field.size();
}

bool parseContentRange(const std::string& field, ContentRange& range)
{
    static const std::string unit = "bytes ";
    std::string::size_type pos = 0;
    skipBlanks(field, pos);
    if (field.compare(pos, unit.size(), unit) != 0)
        return false;
    pos += unit.size();
    skipBlanks(field, pos);

    ContentRange parsed;
    if (pos < field.size() && field[pos] == '*') {
        ++pos;
    } else {
        parsed.satisfied = true;
        if (!readNumber(field, pos, parsed.first) || pos >= field.size() || field[pos++] != '-' ||
            !readNumber(field, pos, parsed.last))
            return false;
    }
    if (pos >= field.size() || field[pos++] != '/' || !readNumber(field, pos, parsed.total))
        return false;
    skipBlanks(field, pos);
    if (pos != field.size())
        return false;
    if (parsed.satisfied && (parsed.first > parsed.last || parsed.last >= parsed.total))
        return false;
    range = parsed;
    return true;
}
