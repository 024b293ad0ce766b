#pragma once

#include "launcher/http/answer.h"
#include "launcher/http/path_speed.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class HttpConnection;

// A GET as HttpClient sends it: the path asked for, and the fields added to it.
struct HttpRequest {
    std::string uri;
    HeaderFields fields;
};

// HTTP/1.1 GETs to one server, one at a time, over one connection kept open
// between them while the server keeps it open: on a long path each new
// connection costs a round trip and a slow start. A kept connection that
// the server has closed meanwhile is opened again and the request sent
// once more. The body's framing is the answer's: Content-Length, chunked,
// or up to the end of the connection. Holds at most a small buffer of an
// answer in memory, whatever the server sends.
class HttpClient {
public:
    explicit HttpClient(const ServerAddress& server);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // `uri` with `fields` added to the request.
    AnswerEnd get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink);

    using Request = HttpRequest;
    // The sink for answer i, asked for just before it is read; nullptr: no more answers are wanted.
    using SinkFor = std::function<AnswerSink*(std::size_t)>;
    // Every request, their answers handed in order, `ends` one per request. On a kept connection up to
    // pipelineDepth requests go ahead of their answers, so that a long path's round trips do not add up; a server
    // that closes the connection while requests wait is asked the rest one at a time for the rest of the run,
    // unless it had answered more than a pipeline's depth on it (a keep-alive limit): then pipelined on a new one.
    void getInOrder(const std::vector<Request>& requests, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends);
    // Within getInOrder: the requests sent are still answered, and no other is sent.
    void sendNoMoreRequests() { sendingStopped_ = true; }

    // What one round trip of the path carries at the rate seen so far; 0 before anything was timed.
    unsigned long long bytesPerRoundTrip() const { return speed_.bytesPerRoundTrip(); }
    // Whether getInOrder would pipeline now: on a connection kept open, with a server that never broke a pipeline.
    bool pipelines() const { return pipelining_ && connection_ != nullptr; }
    void askOneAtATime() { pipelining_ = false; }          // getInOrder asks one at a time from now on
    bool connectFailed() const { return connectFailed_; }  // the last connection tried could not be opened

    static constexpr std::size_t pipelineDepth = 16;

private:
    bool openConnection();
    std::size_t pipeline(const std::vector<Request>& requests, std::size_t first, const SinkFor& sinkFor,
                         std::vector<AnswerEnd>& ends);

    ServerAddress server_;
    std::unique_ptr<HttpConnection> connection_;
    bool pipelining_ = true;
    bool sendingStopped_ = false;  // within getInOrder
    std::size_t answersOnConnection_ = 0;
    bool keepAliveLimitMet_ = false;  // the last pipeline ended where the server ends each connection
    PathSpeed speed_;
    bool connectFailed_ = false;
};
