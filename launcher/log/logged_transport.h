#pragma once

#include "launcher/http/transport.h"
#include "launcher/log/run_log.h"

// Every request of `inner` written to the run's log: its URL and range,
// the answer's status, the body bytes taken, how it ended, and the time.
class LoggedTransport : public Transport {
public:
    LoggedTransport(Transport& inner, RunLog& log) : inner_(inner), log_(log) {}
    AnswerEnd get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink) override;
    void askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends) override;
    unsigned long long bytesPerRoundTrip() const override { return inner_.bytesPerRoundTrip(); }
    bool pipelines() const override { return inner_.pipelines(); }
    void sendNoMoreRequests() override { inner_.sendNoMoreRequests(); }
    void askOneAtATime() override;

private:
    Transport& inner_;
    RunLog& log_;
};
