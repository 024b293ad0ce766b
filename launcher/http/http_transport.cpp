#include "launcher/http/http_transport.h"

#include <algorithm>

namespace {

const int proxyAuthenticationRequired = 407;

// Hands each answer on to the sink it screens, but a proxy's demand for credentials, which this launcher has
// none to give: that answer is no sink's.
class ProxyScreen : public AnswerSink {
public:
    explicit ProxyScreen(bool proxied) : proxied_(proxied) {}
    // `inner` takes the next answer; nullptr stays nullptr.
    AnswerSink* screening(AnswerSink* inner, std::size_t index)
    {
        inner_ = inner;
        index_ = index;
        return inner == nullptr ? nullptr : this;
    }
    bool takeHead(const AnswerHead& head) override
    {
        if (proxied_ && head.status == proxyAuthenticationRequired) {
            refused.push_back(index_);
            return false;
        }
        return inner_->takeHead(head);
    }
    bool takeBody(const char* data, std::size_t size) override { return inner_->takeBody(data, size); }

    std::vector<std::size_t> refused;  // the answers held back

private:
    const bool proxied_;
    AnswerSink* inner_ = nullptr;
    std::size_t index_ = 0;
};

}  // namespace

void HttpTransport::askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends)
{
    std::vector<HttpClient::Request> requests;
    for (const Range& range : ranges) {
        requests.push_back({range.uri, rangeField(range.first, range.last)});
        requests.back().fields.insert(requests.back().fields.end(), range.conditions.begin(), range.conditions.end());
    }
    ProxyScreen screen(proxied_);
    client_.getInOrder(
        requests, [&](std::size_t i) { return screen.screening(sinkFor(i), i); }, ends);
    for (const std::size_t refused : screen.refused)
        ends[refused] = AnswerEnd::failed;
    noteProxyTrouble(std::find(ends.begin(), ends.end(), AnswerEnd::failed) != ends.end(), !screen.refused.empty());
}

AnswerEnd HttpTransport::get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink)
{
    ProxyScreen screen(proxied_);
    const AnswerEnd end = client_.get(uri, fields, *screen.screening(&sink, 0));
    noteProxyTrouble(end == AnswerEnd::failed, !screen.refused.empty());
    return screen.refused.empty() ? end : AnswerEnd::failed;
}

void HttpTransport::noteProxyTrouble(bool failed, bool refused)
{
    if (refused)
        trouble_ = ProxyTrouble::asksForPassword;
    else if (proxied_ && failed && client_.connectFailed())
        trouble_ = ProxyTrouble::unreachable;
    else
        trouble_ = ProxyTrouble::none;
}
