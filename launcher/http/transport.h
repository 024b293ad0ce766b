#pragma once

#include "launcher/http/answer.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// What the proxy between the launcher and a server made of the last request to it.
struct ProxyTrouble {
    enum Kind { none, asksForPassword, unreachable };
    Kind kind = none;
    std::string proxy;  // "host:port"
};

// How every request of a run reaches the update server: the lock, the
// release, the manifest and each file's pieces. The run talks only to this,
// so that a scripted transport can drive it in tests.
class Transport {
public:
    virtual ~Transport() = default;
    // One GET of `uri` with `fields` added to the request, its answer streamed to `sink`.
    virtual AnswerEnd get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink) = 0;
    // Bytes first..last of `uri`: a GET with a Range field, and `conditions`
    // (If-Match, If-Unmodified-Since) added.
    virtual AnswerEnd ask(const std::string& uri, unsigned long long first, unsigned long long last,
                          const HeaderFields& conditions, AnswerSink& sink);

    struct Range {
        std::string uri;
        unsigned long long first;
        unsigned long long last;
        HeaderFields conditions = {};  // as for ask
    };
    // Each range, its answer handed to sinkFor(i), which is called just
    // before answer i is read (nullptr: no more are wanted); `ends` one per
    // range. Here one request at a time.
    using SinkFor = std::function<AnswerSink*(std::size_t)>;
    virtual void askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends);
    // Called within askInOrder: the requests sent so far (the one whose sink
    // is being asked for among them) are still answered, through sinkFor, and
    // no other is sent; askInOrder then returns, the connection kept.
    virtual void sendNoMoreRequests() { sendingStopped_ = true; }

    // What one round trip carries at the rate seen so far in this run; 0 when unknown.
    virtual unsigned long long bytesPerRoundTrip() const { return 0; }
    // Whether askInOrder's next requests go ahead of their answers, so that
    // many small ones cost no round trip each.
    virtual bool pipelines() const { return false; }
    // The answers to pipelined requests could not be trusted (cut short, or
    // not those asked for): askInOrder asks one at a time for the rest of the run.
    virtual void askOneAtATime() {}

    // How many servers can be asked: what the layers above try at most, calling passOver between tries.
    virtual std::size_t serverCount() const { return 1; }
    // What only the layers above can tell (a body that fails its check, a 404 for an object a verified
    // release names, a release that does not verify): the server asked now is passed over, and the next
    // one asked from here on.
    virtual void passOver() {}

    // Why the last request failed, where a proxy failed it: a proxy's own answer is never taken for the server's.
    virtual ProxyTrouble proxyTrouble() const { return {}; }

private:
    bool sendingStopped_ = false;  // within the one-at-a-time askInOrder
};

// askInOrder for answers taken one after another: arm(i) readies the sink
// for answer i (nullptr: nothing more is asked), and settle(i, end) takes
// what came of it once it is read (false: nothing more is wanted). Each
// answer read is settled once, the last one too.
void askSettlingInOrder(Transport& transport, const std::vector<Transport::Range>& ranges,
                        const std::function<AnswerSink*(std::size_t)>& arm,
                        const std::function<bool(std::size_t, AnswerEnd)>& settle);

// The trouble of the first of `servers` whose last request a proxy failed: with every server failing, the
// likeliest cause.
ProxyTrouble firstProxyTrouble(const std::vector<Transport*>& servers);

// The Range field that asks for bytes first..last, as every transport sends it.
HeaderFields rangeField(unsigned long long first, unsigned long long last);

// Fetches a small file whole: true only for a 200 whose body ended where its
// framing says, within `limit` bytes.
bool fetchWholeText(Transport& transport, const std::string& uri, std::size_t limit, std::string& text);
