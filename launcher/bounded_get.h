#pragma once

#include <cstddef>
#include <string>
#include <utility>

// The answer to one bounded request: what the download checks read.
struct BoundedAnswer {
    int status = 0;
    std::string contentLength;
    std::string contentRange;
    std::string etag;
    std::string lastModified;
    std::string body;
};

// One HTTP/1.1 GET of `uri` on its own connection ("Connection: close"),
// asking for `range` ("bytes=A-B"), with the conditional header field
// `condition` (name and value) when it is given. Unlike sf::Http, which reads until the server closes,
// it stops reading and fails as soon as the body runs past
// `maxBodyBytes` (a server that sends more than a signed size gets no
// more memory or time than that size). False also when the connection
// fails or the answer's head is malformed or chunked (never
// asked for: a static file comes with its length).
bool boundedGet(const std::string& host, unsigned short port, const std::string& uri, const std::string& range,
                const std::pair<std::string, std::string>& condition, std::size_t maxBodyBytes,
                BoundedAnswer& answer);
