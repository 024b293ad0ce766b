#pragma once

#include "launcher/http/transport.h"

#include <cstddef>
#include <utility>
#include <vector>

// Several servers of one channel, each untrusted alike. A request goes to
// the server that answered last (the first, at the start); on no
// connection, a stall before the body, or a 5xx, the next one is asked
// (one that gave no answer at all, last), and the one that answered is
// kept for the rest of the run. The caller's
// sink never sees an answer that is asked again. What only the layers above
// can judge (a body that fails its check, a 404 for a signed object) they
// tell through passOver. With one server every call goes straight to it.
class FailoverTransport : public Transport {
public:
    // `servers` in the order they are asked; at least one; outlive this.
    explicit FailoverTransport(std::vector<Transport*> servers)
        : servers_(std::move(servers)), silent_(servers_.size(), false)
    {
    }

    AnswerEnd get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink) override;
    void askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends) override;
    unsigned long long bytesPerRoundTrip() const override { return servers_[current_]->bytesPerRoundTrip(); }
    bool pipelines() const override { return servers_[current_]->pipelines(); }
    // To the server being asked within askInOrder.
    void sendNoMoreRequests() override { servers_[asking_]->sendNoMoreRequests(); }
    // Every server: answers that could not be trusted may be a cache's in front of them all.
    void askOneAtATime() override;
    std::size_t serverCount() const override { return servers_.size(); }
    // To the next server that has not left a request unanswered in this run, while there is one.
    void passOver() override;
    ProxyTrouble proxyTrouble() const override { return firstProxyTrouble(servers_); }

    // The server asked first now, by its place in the list.
    std::size_t current() const { return current_; }

private:
    std::size_t at(std::size_t tried) const { return (current_ + tried) % servers_.size(); }
    // The servers in the order a request asks them: from the current one on, those found silent last.
    std::vector<std::size_t> order() const;
    // Asks `server` for ranges[from...]; how many it answered before one that goes to the next server
    // (the last server, or a caller that wants no more: all of them).
    std::size_t askRangesOf(std::size_t server, bool lastServer, const std::vector<Range>& ranges, std::size_t from,
                            const SinkFor& sinkFor, std::vector<AnswerEnd>& ends);

    std::vector<Transport*> servers_;
    std::vector<bool> silent_;  // gave no answer at all to its last request: down, or stalled
    std::size_t current_ = 0;
    std::size_t asking_ = 0;  // within askInOrder
};
