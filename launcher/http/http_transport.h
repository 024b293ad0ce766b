#pragma once

#include "launcher/http/http_client.h"
#include "launcher/http/transport.h"

// HTTP/1.1 to one server (some servers ignore a Range field in HTTP/1.0),
// over one connection for the whole run while the server keeps it open.
// Through a proxy, the proxy's own refusal (407) is a failed request, never
// an answer of the server's.
class HttpTransport : public Transport {
public:
    explicit HttpTransport(const ServerAddress& server)
        : client_(server), proxied_(!server.proxyHost.empty()),
          proxy_(server.proxyHost + ":" + std::to_string(server.proxyPort))
    {
    }
    AnswerEnd get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink) override;
    // Pipelined on the kept connection (see HttpClient::getInOrder).
    void askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends) override;
    unsigned long long bytesPerRoundTrip() const override { return client_.bytesPerRoundTrip(); }
    bool pipelines() const override { return client_.pipelines(); }
    void sendNoMoreRequests() override { client_.sendNoMoreRequests(); }
    void askOneAtATime() override { client_.askOneAtATime(); }
    ProxyTrouble proxyTrouble() const override { return {trouble_, proxy_}; }

private:
    // What the proxy made of requests that ended so, `refused`: one of them answered 407.
    void noteProxyTrouble(bool failed, bool refused);

    HttpClient client_;
    const bool proxied_;
    const std::string proxy_;
    ProxyTrouble::Kind trouble_ = ProxyTrouble::none;
};
