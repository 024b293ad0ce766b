// Content-Length and Content-Range values, and text shown on the console, as a server may send them.
#include "launcher/console/console_text.h"
#include "launcher/http/http_fields.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdint>
#include <string>

namespace {

std::string withoutBlanks(const std::string& field)
{
    const std::string::size_type first = field.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : field.substr(first, field.find_last_not_of(" \t") - first + 1);
}

// Nothing a terminal acts on: no control byte, no C1 control, valid UTF-8, one line.
void checkShownText(const std::string& text)
{
    const std::string shown = printableOnOneLine(text);
    FUZZ_CHECK(printableOnOneLine(shown) == shown);
    for (std::size_t at = 0; at < shown.size(); ++at) {
        const auto byte = static_cast<unsigned char>(shown[at]);
        FUZZ_CHECK(byte >= 0x20 && byte != 0x7f && byte != 0xc0 && byte != 0xc1 && byte < 0xf5);
        FUZZ_CHECK(!(byte == 0xc2 && at + 1 < shown.size() && static_cast<unsigned char>(shown[at + 1]) < 0xa0));
    }
    FUZZ_CHECK(shown.empty() || (shown.front() != ' ' && shown.back() != ' '));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string field(reinterpret_cast<const char*>(data), size);
    checkShownText(field);

    unsigned long long length = 0;
    if (parseContentLength(field, length)) {
        const std::string digits = withoutBlanks(field);
        FUZZ_CHECK(!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos);
        FUZZ_CHECK(digits.substr(digits.find_first_not_of('0') == std::string::npos
                                     ? digits.size() - 1
                                     : digits.find_first_not_of('0')) == std::to_string(length));
    }

    ContentRange range;
    range.first = 1;
    range.last = 2;
    range.total = 3;
    if (parseContentRange(field, range)) {
        FUZZ_CHECK(!range.satisfied || (range.first <= range.last && range.last < range.total));
        FUZZ_CHECK(range.satisfied || (range.first == 0 && range.last == 0));
        // The canonical spelling of what was read reads back the same.
        const std::string canonical = range.satisfied
                                          ? "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                                                "/" + std::to_string(range.total)
                                          : "bytes */" + std::to_string(range.total);
        ContentRange again;
        FUZZ_CHECK(parseContentRange(canonical, again));
        FUZZ_CHECK(again.satisfied == range.satisfied && again.first == range.first && again.last == range.last &&
                   again.total == range.total);
    } else {
        FUZZ_CHECK(range.first == 1 && range.last == 2 && range.total == 3);  // left as it was
    }
    return 0;
}
