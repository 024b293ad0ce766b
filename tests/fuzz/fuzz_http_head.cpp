// An answer's head and a chunk-size line, as a server may send them.
#include "channel/case_folding.h"
#include "launcher/http/http_head.h"
#include "tests/fuzz/fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

bool sameHead(const AnswerHead& a, const AnswerHead& b)
{
    return a.status == b.status && a.contentLength == b.contentLength && a.contentRange == b.contentRange &&
           a.etag == b.etag && a.lastModified == b.lastModified;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

void checkHead(const std::string& head)
{
    AnswerHead answer;
    Framing framing = Framing::toClose;
    bool keepsOpen = false;
    const bool parsed = parseHead(head, answer, framing, keepsOpen);

    AnswerHead again;
    Framing framingAgain = Framing::toClose;
    bool keepsOpenAgain = false;
    FUZZ_CHECK(parseHead(head, again, framingAgain, keepsOpenAgain) == parsed);
    if (!parsed)
        return;
    FUZZ_CHECK(sameHead(answer, again) && framing == framingAgain && keepsOpen == keepsOpenAgain);

    // The status is the three digits after the version, and only HTTP/1.1 keeps the connection.
    FUZZ_CHECK(head.compare(0, 7, "HTTP/1.") == 0 && head.size() >= 12);
    FUZZ_CHECK(isDigit(head[9]) && isDigit(head[10]) && isDigit(head[11]));
    FUZZ_CHECK(answer.status == std::stoi(head.substr(9, 3)) && answer.status >= 100 && answer.status <= 999);
    FUZZ_CHECK(!keepsOpen || head[7] == '1');
    // One framing, and a length only where it frames the body.
    FUZZ_CHECK(framing != Framing::chunked || answer.contentLength.empty());
    FUZZ_CHECK((framing == Framing::toClose) == answer.contentLength.empty() || framing == Framing::chunked);
    if (answer.status == 204 || answer.status == 304 || answer.status < 200)
        FUZZ_CHECK(framing == Framing::length && answer.contentLength == "0");
    for (const std::string* value : {&answer.contentLength, &answer.contentRange, &answer.etag, &answer.lastModified})
        FUZZ_CHECK(trimmed(*value) == *value && value->find("\r\n") == std::string::npos);
}

// A second Content-Length that differs from the first frames another body: never taken.
void checkTwoLengths(const std::string& value)
{
    if (value.find("\r\n") != std::string::npos)
        return;
    AnswerHead answer;
    Framing framing = Framing::toClose;
    bool keepsOpen = false;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: " + value + "\r\n";
    FUZZ_CHECK(parseHead(head, answer, framing, keepsOpen) == (trimmed(value) == "5"));
}

std::string hex(unsigned long long value)
{
    const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value % 16]);
        value /= 16;
    } while (value != 0);
    return text;
}

void checkChunkSize(const std::string& line)
{
    unsigned long long size = 0;
    if (!parseChunkSize(line, size))
        return;
    unsigned long long again = 1;
    FUZZ_CHECK(parseChunkSize(line, again) && again == size);
    // No more than fifteen hex digits: the size cannot have overflowed.
    FUZZ_CHECK(size < (1ULL << 60));
    // Its plain spelling reads back the same, and is the line's digits without leading zeros.
    const std::string plain = hex(size);
    FUZZ_CHECK(parseChunkSize(plain, again) && again == size);
    std::string digits = lowerCase(trimmed(line.substr(0, line.find(';'))));
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
    FUZZ_CHECK(digits == plain);
}

void checkText(const std::string& text)
{
    const std::string lower = lowerCase(text);
    FUZZ_CHECK(lower.size() == text.size() && lowerCase(lower) == lower);
    for (std::size_t at = 0; at < text.size(); ++at)
        FUZZ_CHECK(lower[at] == text[at] || (text[at] >= 'A' && text[at] <= 'Z' && lower[at] == text[at] + 32));
    const std::string bare = trimmed(text);
    FUZZ_CHECK(trimmed(bare) == bare && text.find(bare) != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    checkHead(input);
    checkTwoLengths(input);
    checkChunkSize(input);
    checkText(input);
    return 0;
}
