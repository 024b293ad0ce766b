#pragma once

// A transport that answers from a script, a few bytes at a time, and notes
// what was asked: drives the launcher's run and its downloads in tests
// without a server.
#include "launcher/http/transport.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

struct ScriptedAnswer {
    int status = 200;
    std::string contentRange;
    std::string body;
    std::string etag;
    bool complete = true;  // false: the connection drops after the body given
};

// A plain answer: `status` with `body`, whole or (`complete` false) cut after it.
inline ScriptedAnswer answer(int status, const std::string& body = "", bool complete = true)
{
    ScriptedAnswer scripted;
    scripted.status = status;
    scripted.body = body;
    scripted.complete = complete;
    return scripted;
}

class ScriptedTransport : public Transport {
public:
    // Answers in turn to any request (the last one repeats).
    explicit ScriptedTransport(std::vector<ScriptedAnswer> answers = {}) { routes_[""] = {std::move(answers), 0}; }

    // Answers in turn to requests for `uri` (the last one repeats); a uri
    // without a route gets the answers given to the constructor.
    void route(const std::string& uri, std::vector<ScriptedAnswer> answers) { routes_[uri] = {std::move(answers), 0}; }

    // Answers every request for `uri` as a server holding `bytes` does: the range asked for, or all of it.
    void serveFile(const std::string& uri, const std::string& bytes) { files_[uri] = bytes; }

    AnswerEnd get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink) override
    {
        requests.push_back(uri);
        std::string shown;
        std::string range;
        for (const auto& field : fields) {
            shown += (shown.empty() ? "" : " ") +
                     (field.first == "Range" ? field.second.substr(6) : field.first + ": " + field.second);
            if (field.first == "Range")
                range = field.second.substr(6);
        }
        asked.push_back(shown);
        const auto file = files_.find(uri);
        if (file != files_.end()) {
            const ScriptedAnswer served = rangeOf(file->second, range);
            bytesServed[uri] += served.body.size();
            return play(served, sink);
        }
        Script& script = routes_.count(uri) != 0 ? routes_[uri] : routes_[""];
        if (script.answers.empty())
            return AnswerEnd::failed;
        const ScriptedAnswer answer = script.answers[script.next];
        script.next = std::min(script.next + 1, script.answers.size() - 1);
        return play(answer, sink);
    }

    unsigned long long bytesPerRoundTrip() const override { return roundTripBytes; }
    bool pipelines() const override { return pipelining; }
    void askOneAtATime() override { pipelining = false; }

    // With `sentAhead`, askInOrder plays a pipeline: that many requests are
    // taken as sent beyond the one answered, and still answered after
    // sendNoMoreRequests.
    void askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends) override
    {
        if (sentAhead == 0)
            return Transport::askInOrder(ranges, sinkFor, ends);
        ends.assign(ranges.size(), AnswerEnd::failed);
        sendingStopped_ = false;
        for (std::size_t i = 0, sent = std::min(ranges.size(), sentAhead + 1); i < sent; ++i) {
            AnswerSink* const sink = sinkFor(i);
            if (sink == nullptr)
                return;
            ends[i] = ask(ranges[i].uri, ranges[i].first, ranges[i].last, ranges[i].conditions, *sink);
            sent = sendingStopped_ ? sent : std::min(ranges.size(), i + 2 + sentAhead);
        }
    }
    void sendNoMoreRequests() override
    {
        sendingStopped_ = true;
        Transport::sendNoMoreRequests();
    }

    unsigned long long roundTripBytes = 0;  // what the path is said to carry in a round trip
    bool pipelining = false;                // what it says of askInOrder, until told to stop
    std::size_t sentAhead = 0;
    std::vector<std::string> requests;                      // the uris, in order
    std::vector<std::string> asked;                         // each request's range and conditions, in order
    std::map<std::string, unsigned long long> bytesServed;  // of each served file

private:
    struct Script {
        std::vector<ScriptedAnswer> answers;
        std::size_t next = 0;
    };

    static ScriptedAnswer rangeOf(const std::string& bytes, const std::string& range)
    {
        const std::size_t dash = range.find('-');
        if (range.empty() || dash == std::string::npos)
            return answer(200, bytes);
        const std::size_t first = static_cast<std::size_t>(std::stoull(range.substr(0, dash)));
        const std::size_t last =
            std::min<std::size_t>(static_cast<std::size_t>(std::stoull(range.substr(dash + 1))), bytes.size() - 1);
        ScriptedAnswer piece = answer(206, bytes.substr(first, last - first + 1));
        piece.contentRange =
            "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(bytes.size());
        return piece;
    }

    static AnswerEnd play(const ScriptedAnswer& answer, AnswerSink& sink)
    {
        AnswerHead head;
        head.status = answer.status;
        head.contentRange = answer.contentRange;
        head.contentLength = std::to_string(answer.body.size());
        head.etag = answer.etag;
        if (!sink.takeHead(head))
            return AnswerEnd::stopped;
        for (std::size_t at = 0; at < answer.body.size(); at += 3) {
            if (!sink.takeBody(answer.body.data() + at, std::min<std::size_t>(3, answer.body.size() - at)))
                return AnswerEnd::stopped;
        }
        return answer.complete ? AnswerEnd::complete : AnswerEnd::failed;
    }

    std::map<std::string, Script> routes_;
    std::map<std::string, std::string> files_;
    bool sendingStopped_ = false;
};
