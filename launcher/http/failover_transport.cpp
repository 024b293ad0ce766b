#include "launcher/http/failover_transport.h"

#include <memory>

namespace {

// Holds an answer back from the caller's sink until it is one to keep: a
// 5xx never reaches it, and a head is passed on only with the first body
// byte (or when the answer is kept without one), so that an answer that
// stalls before its body can still be asked of the next server.
class HeldAnswer : public AnswerSink {
public:
    explicit HeldAnswer(AnswerSink& inner) : inner_(inner) {}

    bool takeHead(const AnswerHead& head) override
    {
        head_ = head;
        headCame_ = true;
        serverError_ = head.status >= 500 && head.status <= 599;
        return !serverError_;
    }

    bool takeBody(const char* data, std::size_t size) override
    {
        if (!headPassed_ && !passHead())
            return false;
        return inner_.takeBody(data, size);
    }

    bool headCame() const { return headCame_; }
    // Whether the caller saw nothing of a failed answer, or a 5xx: the next server is asked.
    bool askNext(AnswerEnd end) const { return serverError_ || (!headPassed_ && end == AnswerEnd::failed); }

    // An answer without a body, kept: its head passed on now.
    AnswerEnd keep(AnswerEnd end)
    {
        if (!headPassed_ && headCame_ && !passHead())
            return AnswerEnd::stopped;
        return end;
    }

private:
    bool passHead()
    {
        headPassed_ = true;
        return inner_.takeHead(head_);
    }

    AnswerSink& inner_;
    AnswerHead head_;
    bool headCame_ = false;
    bool headPassed_ = false;
    bool serverError_ = false;
};

}  // namespace

std::vector<std::size_t> FailoverTransport::order() const
{
    std::vector<std::size_t> servers;
    for (const bool silent : {false, true}) {
        for (std::size_t tried = 0; tried < servers_.size(); ++tried) {
            if (silent_[at(tried)] == silent)
                servers.push_back(at(tried));
        }
    }
    return servers;
}

AnswerEnd FailoverTransport::get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink)
{
    const std::vector<std::size_t> servers = order();
    for (std::size_t tried = 0; tried + 1 < servers.size(); ++tried) {
        HeldAnswer held(sink);
        const AnswerEnd end = servers_[servers[tried]]->get(uri, fields, held);
        silent_[servers[tried]] = !held.headCame();
        if (!held.askNext(end)) {
            current_ = servers[tried];
            return held.keep(end);
        }
    }
    // The last server left: its answer is the caller's, whatever it is.
    const std::size_t server = servers.back();
    const AnswerEnd end = servers_[server]->get(uri, fields, sink);
    if (end != AnswerEnd::failed) {
        current_ = server;
        silent_[server] = false;
    }
    return end;
}

void FailoverTransport::askOneAtATime()
{
    for (Transport* server : servers_)
        server->askOneAtATime();
}

void FailoverTransport::passOver()
{
    // A server that is down would cost a request window before the next is asked anyway.
    for (std::size_t step = 1; step < servers_.size(); ++step) {
        if (!silent_[at(step)]) {
            current_ = at(step);
            return;
        }
    }
}

void FailoverTransport::askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor,
                                   std::vector<AnswerEnd>& ends)
{
    if (servers_.size() == 1) {
        asking_ = 0;
        servers_[0]->askInOrder(ranges, sinkFor, ends);
        return;
    }
    ends.assign(ranges.size(), AnswerEnd::failed);
    const std::vector<std::size_t> servers = order();
    std::size_t from = 0;
    for (std::size_t tried = 0; tried < servers.size() && from < ranges.size(); ++tried) {
        const std::size_t server = servers[tried];
        const std::size_t answered = askRangesOf(server, tried + 1 == servers.size(), ranges, from, sinkFor, ends);
        if (answered > 0)
            current_ = server;
        from += answered;
    }
}

std::size_t FailoverTransport::askRangesOf(std::size_t server, bool lastServer, const std::vector<Range>& ranges,
                                           std::size_t from, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends)
{
    const std::vector<Range> rest(ranges.begin() + static_cast<std::ptrdiff_t>(from), ranges.end());
    std::vector<std::unique_ptr<HeldAnswer>> held(rest.size());
    std::vector<AnswerEnd> restEnds;
    std::size_t lastAsked = 0;
    std::size_t askedElsewhere = rest.size();  // the first answer the next server is asked for
    bool stopped = false;                      // the caller wanted no more
    asking_ = server;
    servers_[server]->askInOrder(
        rest,
        [&](std::size_t i) -> AnswerSink* {
            // The answer before has ended: one that is asked elsewhere ends what this server is asked; else
            // its end is the caller's before the next sink is asked for, as from any transport.
            if (i > lastAsked && held[lastAsked] != nullptr && held[lastAsked]->askNext(restEnds[lastAsked])) {
                askedElsewhere = lastAsked;
                return nullptr;
            }
            if (i > lastAsked && held[lastAsked] != nullptr)
                restEnds[lastAsked] = held[lastAsked]->keep(restEnds[lastAsked]);
            if (i > lastAsked)
                ends[from + lastAsked] = restEnds[lastAsked];
            lastAsked = i;
            AnswerSink* const sink = sinkFor(from + i);
            stopped = sink == nullptr;
            if (stopped || lastServer)
                return sink;
            held[i] = std::make_unique<HeldAnswer>(*sink);  // asked again after a close: held anew
            return held[i].get();
        },
        restEnds);
    for (std::size_t i = 0; i < askedElsewhere && i < restEnds.size(); ++i) {
        if (held[i] != nullptr && held[i]->askNext(restEnds[i]))
            askedElsewhere = i;
        else if (held[i] != nullptr)
            restEnds[i] = held[i]->keep(restEnds[i]);
    }
    const std::size_t answered = lastServer || stopped ? rest.size() : askedElsewhere;
    for (std::size_t i = 0; i < answered && i < restEnds.size(); ++i)
        ends[from + i] = restEnds[i];
    return answered;
}
