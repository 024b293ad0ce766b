#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// How slow a request may be: it fails when its connection is not made
// within the window, or when fewer than `minimumBytes` of the answer arrive
// in one window. A server that stalls or vanishes then ends the step instead
// of holding the player at a silent console.
struct RequestFloor {
    unsigned int windowMilliseconds;
    unsigned int minimumBytes;
};
constexpr RequestFloor requestFloor{60000, 1024};

// The update server, as every request reaches it.
struct ServerAddress {
    std::string host;
    unsigned short port = 0;  // 0: HTTP's port 80
    RequestFloor floor = requestFloor;
};

// What the launcher reads of an answer's head.
struct AnswerHead {
    int status = 0;
    std::string contentLength;
    std::string contentRange;
    std::string etag;
    std::string lastModified;
};

// Takes one answer as it arrives: the head, then the body a slice at a
// time, so that no answer is ever held whole in memory.
class AnswerSink {
public:
    virtual ~AnswerSink() = default;
    // False: the body is not wanted; nothing more is read.
    virtual bool takeHead(const AnswerHead& head) = 0;
    // False: stop reading here (enough arrived, more than can be trusted, or a write failed).
    virtual bool takeBody(const char* data, std::size_t size) = 0;
};

enum class AnswerEnd {
    complete,  // the body ended where its framing says it ends
    stopped,   // the sink stopped reading
    failed,    // no connection, a malformed answer, or a body cut before its end
};

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

class HttpConnection;

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

    struct Request {
        std::string uri;
        HeaderFields fields;
    };
    // The sink for answer i, asked for just before it is read; nullptr: no more answers are wanted.
    using SinkFor = std::function<AnswerSink*(std::size_t)>;
    // Every request, their answers handed in order, `ends` one per request.
    // On a kept connection up to pipelineDepth requests go ahead of their
    // answers, so that a long path's round trips do not add up; a server
    // that closes the connection while requests wait is asked the rest one
    // at a time, for the rest of the run.
    void getInOrder(const std::vector<Request>& requests, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends);

    unsigned connectionsOpened() const { return connectionsOpened_; }
    // What one round trip of the path carries at the rate seen so far; 0 before anything was timed.
    unsigned long long bytesPerRoundTrip() const;
    // Whether getInOrder would pipeline now: on a connection kept open, with a server that never broke a pipeline.
    bool pipelines() const { return pipelining_ && connection_ != nullptr; }

    static constexpr std::size_t pipelineDepth = 16;

private:
    bool openConnection();
    void measure(AnswerEnd end, double headSeconds, double bodySeconds, unsigned long long bodyBytes);
    std::size_t pipeline(const std::vector<Request>& requests, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends);

    ServerAddress server_;
    std::unique_ptr<HttpConnection> connection_;
    unsigned connectionsOpened_ = 0;
    bool pipelining_ = true;
    double roundTripSeconds_ = 0;
    double bytesPerSecond_ = 0;
};

// A small answer (the lock, the manifest, the release) as text, up to
// `limit` bytes of its body; past that, reading stops and `overflowed` is set.
class TextAnswer : public AnswerSink {
public:
    explicit TextAnswer(std::size_t limit) : limit_(limit) {}

    bool takeHead(const AnswerHead& head) override;
    bool takeBody(const char* data, std::size_t size) override;

    AnswerHead head;
    std::string body;
    bool overflowed = false;

private:
    std::size_t limit_;
};
