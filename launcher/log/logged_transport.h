#pragma once

#include "launcher/http/transport.h"
#include "launcher/log/run_log.h"

#include <string>
#include <utility>

// Every request of `inner` written to the run's log: the server asked
// (`server`, begun each line), its URL and range, the answer's status, the
// body bytes taken, how it ended, and the time.
class LoggedTransport : public Transport {
public:
    LoggedTransport(Transport& inner, RunLog& log, std::string server)
        : inner_(inner), log_(log), server_(std::move(server) + " ")
    {
    }
    AnswerEnd get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink) override;
    void askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends) override;
    unsigned long long bytesPerRoundTrip() const override { return inner_.bytesPerRoundTrip(); }
    bool pipelines() const override { return inner_.pipelines(); }
    void sendNoMoreRequests() override { inner_.sendNoMoreRequests(); }
    void askOneAtATime() override;
    std::size_t serverCount() const override { return inner_.serverCount(); }
    void passOver() override { inner_.passOver(); }
    ProxyTrouble proxyTrouble() const override { return inner_.proxyTrouble(); }

private:
    Transport& inner_;
    RunLog& log_;
    const std::string server_;
};
