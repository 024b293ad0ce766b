// Built natively and for Windows (run under Wine).
#include "launcher/http/http_fields.h"
#include "launcher/http/uri_escape.h"

#include <gtest/gtest.h>

namespace {

TEST(HttpFields, ContentRangeAcceptsOnlyTheExactForms)
{
    struct Case {
        const char* field;
        bool ok;
        ContentRange expected;
    };
    const Case cases[] = {
        {"bytes 0-99/100", true, {true, 0, 99, 100}},
        {" bytes 16777216-33554431/40000000 ", true, {true, 16777216, 33554431, 40000000}},
        {"bytes */0", true, {false, 0, 0, 0}},
        {"bytes */5", true, {false, 0, 0, 5}},
        {"bytes 18446744073709551614-18446744073709551614/18446744073709551615",
         true,
         {true, 18446744073709551614ULL, 18446744073709551614ULL, 18446744073709551615ULL}},
        {"bytes 5-4/10", false, {}},
        {"bytes 0-10/10", false, {}},
        {"bytes 0-99/18446744073709551616", false, {}},
        {"bytes 0-99", false, {}},
        {"bytes 0-99/*", false, {}},
        {"bytes -1-99/100", false, {}},
        {"bytes 0-99/100x", false, {}},
        {"items 0-99/100", false, {}},
        {"bytes=0-99/100", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        ContentRange range;
        ASSERT_EQ(parseContentRange(c.field, range), c.ok) << c.field;
        if (c.ok) {
            EXPECT_EQ(range.satisfied, c.expected.satisfied) << c.field;
            EXPECT_EQ(range.first, c.expected.first) << c.field;
            EXPECT_EQ(range.last, c.expected.last) << c.field;
            EXPECT_EQ(range.total, c.expected.total) << c.field;
        }
    }
}

TEST(HttpFields, ContentLengthIsAPlainNumber)
{
    unsigned long long length = 7;
    EXPECT_TRUE(parseContentLength(" 840\t", length));
    EXPECT_EQ(length, 840u);
    EXPECT_TRUE(parseContentLength("18446744073709551615", length));
    for (const char* bad : {"", " ", "-1", "+5", "0x10", "12 34", "18446744073709551616", "1e3"})
        EXPECT_FALSE(parseContentLength(bad, length)) << bad;
}

TEST(UriEscape, EscapesEveryByteOutsideThePathCharacters)
{
    const std::pair<std::string, std::string> cases[] = {
        {"libs/physfs.dll", "libs/physfs.dll"},
        {"a b.dat", "a%20b.dat"},
        {"100%.dat", "100%25.dat"},
        {"-._~!$&'()*+,;=:@/", "-._~!$&'()*+,;=:@/"},
        {"q?x#y\"<>[]{}|^`\\", "q%3Fx%23y%22%3C%3E%5B%5D%7B%7D%7C%5E%60%5C"},
        {"caf\xc3\xa9", "caf%C3%A9"},
        {std::string("nul\0\x7f\xff", 6), "nul%00%7F%FF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(escapeUriPath(c.first), c.second) << c.first;
}

}  // namespace
