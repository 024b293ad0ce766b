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
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        AnswerSink* const sink = sinkFor(i);
        if (sink == nullptr)
            return;
        ends[i] = ask(ranges[i].uri, ranges[i].first, ranges[i].last, {}, *sink);
    }
}

bool fetchWholeText(Transport& transport, const std::string& uri, std::size_t limit, std::string& text)
{
    TextAnswer answer(limit);
    if (transport.get(uri, {}, answer) != AnswerEnd::complete || answer.head.status != 200)
        return false;
    text.swap(answer.body);
    return true;
}
