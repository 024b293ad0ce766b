#include "launcher/http/transport.h"

#include "launcher/http/text_answer.h"

HeaderFields rangeField(unsigned long long first, unsigned long long last)
{
    return {{"Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last)}};
}

AnswerEnd Transport::ask(const std::string& uri, unsigned long long first, unsigned long long last,
                         const HeaderFields& conditions, AnswerSink& sink)
{
    HeaderFields fields = rangeField(first, last);
    fields.insert(fields.end(), conditions.begin(), conditions.end());
    return get(uri, fields, sink);
}

void Transport::askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends)
{
    ends.assign(ranges.size(), AnswerEnd::failed);
    sendingStopped_ = false;
    for (std::size_t i = 0; i < ranges.size() && !sendingStopped_; ++i) {
        AnswerSink* const sink = sinkFor(i);
        if (sink == nullptr)
            return;
        ends[i] = ask(ranges[i].uri, ranges[i].first, ranges[i].last, ranges[i].conditions, *sink);
    }
}

void askSettlingInOrder(Transport& transport, const std::vector<Transport::Range>& ranges,
                        const std::function<AnswerSink*(std::size_t)>& arm,
                        const std::function<bool(std::size_t, AnswerEnd)>& settle)
{
    const std::size_t none = ranges.size();
    std::size_t armed = none;  // the answer being read, once its sink is armed
    bool stopped = false;
    std::vector<AnswerEnd> ends;
    transport.askInOrder(
        ranges,
        [&](std::size_t i) -> AnswerSink* {
            // The same answer once more: asked again after a connection closed before it.
            if (armed != none && armed != i) {
                const std::size_t read = armed;
                armed = none;
                stopped = !settle(read, ends[read]);
            }
            AnswerSink* const sink = stopped ? nullptr : arm(i);
            stopped = sink == nullptr;
            armed = stopped ? none : i;
            return sink;
        },
        ends);
    if (armed != none)
        settle(armed, ends[armed]);
}

bool fetchWholeText(Transport& transport, const std::string& uri, std::size_t limit, std::string& text)
{
    TextAnswer answer(limit);
    if (transport.get(uri, {}, answer) != AnswerEnd::complete || answer.head.status != 200)
        return false;
    text.swap(answer.body);
    return true;
}

ProxyTrouble firstProxyTrouble(const std::vector<Transport*>& servers)
{
    for (const Transport* server : servers) {
        const ProxyTrouble trouble = server->proxyTrouble();
        if (trouble.kind != ProxyTrouble::none)
            return trouble;
    }
    return {};
}
