#include "launcher/http/http_transport.h"

void HttpTransport::askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends)
{
    std::vector<HttpClient::Request> requests;
    for (const Range& range : ranges) {
        requests.push_back({range.uri, rangeField(range.first, range.last)});
        requests.back().fields.insert(requests.back().fields.end(), range.conditions.begin(), range.conditions.end());
    }
    client_.getInOrder(requests, sinkFor, ends);
}

AnswerEnd HttpTransport::get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink)
{
    return client_.get(uri, fields, sink);
}
