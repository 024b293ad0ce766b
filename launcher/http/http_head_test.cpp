// Built natively and for Windows (run under Wine).
#include "launcher/http/http_head.h"

#include <gtest/gtest.h>

namespace {

TEST(HttpHead, ParsesOnlyHeadsThatFrameOneBody)
{
    struct Case {
        const char* head;
        int status;
        const char* contentLength;
        Framing framing;
        bool keepsOpen;
    };
    const Framing length = Framing::length, chunked = Framing::chunked, toClose = Framing::toClose;
    const Case accepted[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", 200, "5", length, true},
        {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n", 200, "5", length, false},
        {"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\n", 200, "", toClose, false},
        {"HTTP/1.1 200\r\n", 200, "", toClose, true},
        {"HTTP/1.1 404 Not  Found \r\ncontent-LENGTH:\t12 \r\nX-Other: y\r\n", 404, "12", length, true},
        // One length given twice is one length.
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length:  5 \r\n", 200, "5", length, true},
        // Chunked framing wins over a length.
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n", 200, "", chunked, true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding:  Chunked\r\n", 200, "", chunked, true},
        {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n", 200, "0", length, false},
        {"HTTP/1.1 200 OK\r\nConnection: keep-alive, Close\r\n", 200, "", toClose, false},
        {"HTTP/1.1 200 OK\r\nConnection: Keep-Alive\r\n", 200, "", toClose, true},
        // These never carry a body, whatever their fields say.
        {"HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n", 204, "0", length, true},
        {"HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n", 304, "0", length, true},
        {"HTTP/1.1 100 Continue\r\n", 100, "0", length, true},
    };
    for (const Case& c : accepted) {
        AnswerHead answer;
        Framing framing = Framing::toClose;
        bool keepsOpen = !c.keepsOpen;
        ASSERT_TRUE(parseHead(c.head, answer, framing, keepsOpen)) << c.head;
        EXPECT_EQ(answer.status, c.status) << c.head;
        EXPECT_EQ(answer.contentLength, c.contentLength) << c.head;
        EXPECT_EQ(framing, c.framing) << c.head;
        EXPECT_EQ(keepsOpen, c.keepsOpen) << c.head;
    }

    AnswerHead answer;
    Framing framing = Framing::toClose;
    bool keepsOpen = false;
    ASSERT_TRUE(parseHead("HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-4/10 \r\nETag:  \"x\"\r\n"
                          "Last-Modified: Mon\r\n",
                          answer, framing, keepsOpen));
    EXPECT_EQ(answer.contentRange, "bytes 0-4/10");
    EXPECT_EQ(answer.etag, "\"x\"");
    EXPECT_EQ(answer.lastModified, "Mon");

    const char* const refused[] = {
        "HTTP/1.1  200 OK\r\n",
        " HTTP/1.1 200 OK\r\n",
        "HTTP/1.1 20 OK\r\n",
        "HTTP/1.1 2000 OK\r\n",
        "HTTP/1.1 2x0 OK\r\n",
        "HTTP/1.1 -20 OK\r\n",
        "HTTP/1.1 099 OK\r\n",
        "HTTP/2 200 OK\r\n",
        "http/1.1 200 OK\r\n",
        "",
        "HTTP/1.1 200 OK\r\nno colon\r\n",
        // Two lengths frame two bodies.
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 05\r\n",
        // Any coding but chunked alone would be read as the file.
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\n",
    };
    for (const char* head : refused)
        EXPECT_FALSE(parseHead(head, answer, framing, keepsOpen)) << head;
}

TEST(HttpHead, ChunkSizeIsHexBeforeAnyExtension)
{
    const std::pair<const char*, unsigned long long> sizes[] = {
        {"0", 0},
        {"a", 10},
        {"FF", 255},
        {"1f;name=value", 31},
        {" 10\t", 16},
        {"10;", 16},
        {"fffffffffffffff", 0xfffffffffffffffULL},
    };
    for (const auto& c : sizes) {
        unsigned long long size = 7;
        EXPECT_TRUE(parseChunkSize(c.first, size)) << c.first;
        EXPECT_EQ(size, c.second) << c.first;
    }
    // Sixteen digits could overflow; refused even when leading zeros keep the value small.
    for (const char* bad : {"", " ", ";ext", "g", "0x10", "-1", "+1", "1 2", "1000000000000000", "0000000000000001"}) {
        unsigned long long size = 0;
        EXPECT_FALSE(parseChunkSize(bad, size)) << bad;
    }
}

}  // namespace
