#pragma once

#include "launcher/http_get.h"

#include <string>

// How a file's bytes reach the launcher: "ask for bytes first..last of this
// path", the answer streamed to a sink. The file being fetched talks only to
// this, so that it can be driven by a scripted transport in tests.
class PieceTransport {
public:
    virtual ~PieceTransport() = default;
    // `conditions` are extra header fields (If-Match, If-Unmodified-Since).
    virtual AnswerEnd ask(const std::string& uri, unsigned long long first, unsigned long long last,
                          const HeaderFields& conditions, AnswerSink& sink) = 0;
};

// Range requests in HTTP/1.1 (some servers ignore a Range field in HTTP/1.0).
class HttpPieceTransport : public PieceTransport {
public:
    explicit HttpPieceTransport(const ServerAddress& server) : server_(server) {}

    AnswerEnd ask(const std::string& uri, unsigned long long first, unsigned long long last,
                  const HeaderFields& conditions, AnswerSink& sink) override
    {
        HeaderFields fields = {{"Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last)}};
        fields.insert(fields.end(), conditions.begin(), conditions.end());
        return httpGet(server_, uri, fields, sink);
    }

private:
    ServerAddress server_;
};
