#pragma once

#include "launcher/http/answer.h"

#include <string>

class HttpConnection;

// One request on an open connection, and its answer handed to `sink`.
struct Exchange {
    AnswerEnd end = AnswerEnd::failed;
    bool reusable = false;          // the answer ended where its framing says, and the server keeps the connection
    bool closedUnanswered = false;  // the connection ended before a byte of the answer: the server closed it
    // How long the head took to come (a round trip, when the request was just sent) and the body after it.
    double headSeconds = 0;
    double bodySeconds = 0;
    unsigned long long bodyBytes = 0;
};

// The next answer on the connection, its body framed as its head says
// (Content-Length, chunked, or up to the close), handed to `sink`.
// Reusable says only that the server keeps the connection: bytes beyond
// the answer are the caller's to judge (the next answer, when more were
// asked for).
Exchange receiveAnswer(HttpConnection& connection, AnswerSink& sink);

// `request` sent, and its answer received; a connection with bytes beyond the answer is not reusable.
Exchange sendAndReceive(HttpConnection& connection, const std::string& request, AnswerSink& sink);
