#include "publisher/adoption/access_log_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct LineCase {
    const char* what;
    std::string line;
    bool read;
    AccessLogLine expected;
};

const std::string object = "/~qel/ORN/windows/latest/by-hash/ab";
const long long dec10 = 20797;  // 2026-12-10

TEST(AccessLogLine, ReadsWhatServersWriteAndRefusesTheRest)
{
    const std::string agent = " \"-\" \"ORN launcher\"";
    const LineCase cases[] = {
        {"combined",
         "1.2.3.4 - - [10/Dec/2026:12:00:00 +0000] \"GET " + object + " HTTP/1.1\" 200 512" + agent,
         true,
         {dec10, "GET", object, 200}},
        {"IPv6 host, user, no body",
         "2001:db8::1 - bob [10/Dec/2026:00:00:00 +0000] \"GET / HTTP/1.0\" 304 -" + agent,
         true,
         {dec10, "GET", "/", 304}},
        {"zone ahead: the day before in UTC",
         "h - - [11/Dec/2026:00:30:00 +0100] \"GET / HTTP/1.1\" 200 1" + agent,
         true,
         {dec10, "GET", "/", 200}},
        {"zone behind: the day after in UTC",
         "h - - [09/Dec/2026:23:30:00 -0100] \"GET / HTTP/1.1\" 200 1" + agent,
         true,
         {dec10, "GET", "/", 200}},
        {"escaped quotes in the agent (Apache, nginx)",
         "h - - [10/Dec/2026:01:02:03 +0000] \"GET / HTTP/1.1\" 200 1 \"-\" \"a \\\"b\\\" \\x22c\"",
         true,
         {dec10, "GET", "/", 200}},
        {"query string, URL escapes, absolute form",
         "h - - [10/Dec/2026:01:02:03 +0000] \"GET http://host/%7Eqel/x%2?a=%41 HTTP/1.1\" 404 1" + agent,
         true,
         {dec10, "GET", "/~qel/x%2", 404}},
        {"another method", "h - - [10/Dec/2026:01:02:03 +0000] \"POST /a HTTP/1.1\" 405 1" + agent, true, dec10, "POST",
         "/a", 405},
        {"no request line", "h - - [10/Dec/2026:01:02:03 +0000] \"-\" 400 0" + agent, true, {dec10, "", "", 400}},
        {"common format",
         "h - - [10/Dec/2026:01:02:03 +0000] \"GET /a HTTP/1.1\" 200 1",
         true,
         {dec10, "GET", "/a", 200}},
        {"a field after the agent",
         "h - - [10/Dec/2026:01:02:03 +0000] \"GET /a HTTP/1.1\" 200 1" + agent + " \"x\"",
         true,
         {dec10, "GET", "/a", 200}},
        {"no such day", "h - - [31/Feb/2026:01:02:03 +0000] \"GET / HTTP/1.1\" 200 1" + agent, false, {}},
        {"no such month", "h - - [10/Dek/2026:01:02:03 +0000] \"GET / HTTP/1.1\" 200 1" + agent, false, {}},
        {"no such hour, on a day just read",
         "h - - [10/Dec/2026:24:00:00 +0000] \"GET / HTTP/1.1\" 200 1" + agent,
         false,
         {}},
        {"a zone not of digits", "h - - [10/Dec/2026:01:02:03 +0a00] \"GET / HTTP/1.1\" 200 1" + agent, false, {}},
        {"no zone", "h - - [10/Dec/2026:01:02:03] \"GET / HTTP/1.1\" 200 1" + agent, false, {}},
        {"missing fields", "h - [10/Dec/2026:01:02:03 +0000] \"GET / HTTP/1.1\" 200 1" + agent, false, {}},
        {"no status", "h - - [10/Dec/2026:01:02:03 +0000] \"GET / HTTP/1.1\" - 1" + agent, false, {}},
        {"request not closed", "h - - [10/Dec/2026:01:02:03 +0000] \"GET / HTTP/1.1 200 1", false, {}},
        {"agent not closed", "h - - [10/Dec/2026:01:02:03 +0000] \"GET / HTTP/1.1\" 200 1 \"-\" \"ORN", false, {}},
        {"empty", "", false, {}},
        {"a line cut short", "h - - [10/Dec/2026:01:0", false, {}},
    };
    for (const LineCase& row : cases) {
        AccessLogLine parsed;
        ASSERT_EQ(parseAccessLogLine(row.line, parsed), row.read) << row.what;
        if (!row.read)
            continue;
        EXPECT_EQ(parsed.day, row.expected.day) << row.what;
        EXPECT_EQ(parsed.method, row.expected.method) << row.what;
        EXPECT_EQ(parsed.path, row.expected.path) << row.what;
        EXPECT_EQ(parsed.status, row.expected.status) << row.what;
    }
}

}  // namespace
