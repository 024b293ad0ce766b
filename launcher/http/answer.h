#pragma once

#include <cstddef>
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

// The update server, as every request reaches it: straight, or through the
// player's proxy, which is then asked for the server's URL in full.
struct ServerAddress {
    std::string host;
    unsigned short port = 0;  // 0: HTTP's port 80
    RequestFloor floor = requestFloor;
    std::string proxyHost = {};  // empty: no proxy
    unsigned short proxyPort = 0;
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
