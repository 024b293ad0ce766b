#pragma once

#include "launcher/http/http_client.h"
#include "launcher/http/transport.h"

// HTTP/1.1 to one server (some servers ignore a Range field in HTTP/1.0),
// over one connection for the whole run while the server keeps it open.
class HttpTransport : public Transport {
public:
    explicit HttpTransport(const ServerAddress& server) : client_(server) {}
    AnswerEnd get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink) override;
    // Pipelined on the kept connection (see HttpClient::getInOrder).
    void askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends) override;
    unsigned long long bytesPerRoundTrip() const override { return client_.bytesPerRoundTrip(); }
    bool pipelines() const override { return client_.pipelines(); }
    void sendNoMoreRequests() override { client_.sendNoMoreRequests(); }
    void askOneAtATime() override { client_.askOneAtATime(); }

private:
    HttpClient client_;
};
