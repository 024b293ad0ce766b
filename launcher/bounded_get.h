#pragma once

#include <cstddef>
#include <string>

// The answer to one bounded request: what the download checks read.
struct BoundedAnswer {
    int status = 0;
    std::string contentLength;
    std::string contentRange;
    std::string body;
};

// One HTTP/1.0 GET of `uri` on its own connection, asking for `range`
// ("bytes=A-B"). Unlike sf::Http, which reads until the server closes,
// it stops reading and fails as soon as the body runs past
// `maxBodyBytes` (a server that sends more than a signed size gets no
// more memory or time than that size). False also when the connection
// fails or the answer's head is malformed or chunked.
bool boundedGet(const std::string& host, unsigned short port, const std::string& uri, const std::string& range,
                std::size_t maxBodyBytes, BoundedAnswer& answer);
