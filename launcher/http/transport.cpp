#include "launcher/http/transport.h"

AnswerEnd Transport::ask(const std::string& uri, unsigned long long first, unsigned long long last,
                         const HeaderFields& conditions, AnswerSink& sink)
{
    HeaderFields fields = {{"Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last)}};
    fields.insert(fields.end(), conditions.begin(), conditions.end());
    return get(uri, fields, sink);
}

AnswerEnd HttpTransport::get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink)
{
    return client_.get(uri, fields, sink);
}

bool fetchWholeText(Transport& transport, const std::string& uri, std::size_t limit, std::string& text)
{
    TextAnswer answer(limit);
    if (transport.get(uri, {}, answer) != AnswerEnd::complete || answer.head.status != 200)
        return false;
    text.swap(answer.body);
    return true;
}
