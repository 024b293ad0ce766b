#include "launcher/http/http_exchange.h"

#include "launcher/http/http_connection.h"
#include "launcher/http/http_fields.h"
#include "launcher/http/http_head.h"

#include <chrono>

namespace {

const std::size_t maxHeadBytes = 64 * 1024;
const std::size_t maxChunkLineBytes = 4 * 1024;
const int maxInterimAnswers = 8;

bool readHead(HttpConnection& connection, std::string& head)
{
    for (std::string line; connection.readLine(line, maxHeadBytes);) {
        if (line.empty())
            return true;
        head += line + "\r\n";
        if (head.size() > maxHeadBytes)
            return false;
    }
    return false;
}

// Hands on up to `count` body bytes (all, when `untilClose`).
AnswerEnd passBody(HttpConnection& connection, unsigned long long count, bool untilClose, AnswerSink& sink)
{
    while (untilClose || count > 0) {
        if (!connection.fill())
            return untilClose && !connection.brokenOff ? AnswerEnd::complete : AnswerEnd::failed;
        std::size_t slice = connection.available();
        if (!untilClose && slice > count)
            slice = static_cast<std::size_t>(count);
        const bool more = sink.takeBody(connection.data(), slice);
        connection.consume(slice);
        count -= untilClose ? 0 : slice;
        if (!more)
            return AnswerEnd::stopped;
    }
    return AnswerEnd::complete;
}

AnswerEnd passChunkedBody(HttpConnection& connection, AnswerSink& sink)
{
    std::string line;
    for (;;) {
        unsigned long long size = 0;
        if (!connection.readLine(line, maxChunkLineBytes) || !parseChunkSize(line, size))
            return AnswerEnd::failed;
        if (size == 0)
            break;
        const AnswerEnd end = passBody(connection, size, false, sink);
        if (end != AnswerEnd::complete)
            return end;
        if (!connection.readLine(line, 2) || !line.empty())
            return AnswerEnd::failed;
    }
    // Trailer fields, then the empty line that ends the answer.
    for (std::size_t lines = 0; lines < 100; ++lines) {
        if (!connection.readLine(line, maxChunkLineBytes))
            return AnswerEnd::failed;
        if (line.empty())
            return AnswerEnd::complete;
    }
    return AnswerEnd::failed;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

Exchange receiveAnswer(HttpConnection& connection, AnswerSink& sink)
{
    Exchange result;
    const bool nothingBuffered = connection.available() == 0;
    connection.expectAnswer();
    const auto started = std::chrono::steady_clock::now();
    AnswerHead answer;
    Framing framing = Framing::toClose;
    bool keepsOpen = false;
    // Interim answers (100 Continue) come before the real one and carry no body.
    for (int heads = 0; answer.status < 200; ++heads) {
        std::string head;
        answer = AnswerHead();
        if (heads == maxInterimAnswers || !readHead(connection, head) || !parseHead(head, answer, framing, keepsOpen)) {
            result.closedUnanswered = nothingBuffered && connection.arrived == 0 && !connection.timedOut;
            return result;
        }
    }
    result.headSeconds = secondsSince(started);
    const unsigned long long headBytes = connection.arrived - connection.available();
    if (!sink.takeHead(answer)) {
        result.end = AnswerEnd::stopped;
        return result;
    }
    unsigned long long length = 0;
    switch (framing) {
    case Framing::chunked:
        result.end = passChunkedBody(connection, sink);
        break;
    case Framing::length:
        result.end = parseContentLength(answer.contentLength, length) ? passBody(connection, length, false, sink)
                                                                      : AnswerEnd::failed;
        break;
    case Framing::toClose:
        result.end = passBody(connection, 0, true, sink);
        keepsOpen = false;
        break;
    }
    result.reusable = result.end == AnswerEnd::complete && keepsOpen;
    result.bodySeconds = secondsSince(started) - result.headSeconds;
    result.bodyBytes = connection.arrived - connection.available() - headBytes;
    return result;
}

Exchange sendAndReceive(HttpConnection& connection, const std::string& request, AnswerSink& sink)
{
    if (!connection.send(request)) {
        Exchange result;
        result.closedUnanswered = true;
        return result;
    }
    Exchange result = receiveAnswer(connection, sink);
    // Bytes beyond the answer belong to no request of ours: such a connection is not used again.
    result.reusable = result.reusable && connection.available() == 0;
    return result;
}
