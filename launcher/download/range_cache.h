#pragma once

#include "launcher/http/transport.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// A transport that keeps the range answers asked for through it while it
// records (each checked as an exact 206 of the file's signed size), and
// answers later requests that those bytes cover from them, asking `inner`
// for the rest, in the same order. Lets a delta ask for its ranges ahead
// of the step that takes them, without changing what that step checks.
class RangeCache : public Transport {
public:
    explicit RangeCache(Transport& inner) : inner_(inner) {}

    // Ranges of `uri`, a file of `size` bytes, are kept and answered; others pass by.
    void expect(const std::string& uri, unsigned long long size) { files_[uri].size = size; }
    void record(bool on) { recording_ = on; }

    AnswerEnd get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink) override
    {
        return inner_.get(uri, fields, sink);
    }
    void askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends) override;
    unsigned long long bytesPerRoundTrip() const override { return inner_.bytesPerRoundTrip(); }
    bool pipelines() const override { return inner_.pipelines(); }

    bool covers(const Range& range) const;
    unsigned long long keptBytes() const { return kept_; }

private:
    struct File {
        unsigned long long size = 0;
        std::map<unsigned long long, std::string> pieces;  // by first byte
    };
    class Recorder;

    AnswerEnd replay(const Range& range, AnswerSink& sink) const;
    void keep(const Range& range, std::string bytes);
    void keepAnswers(const std::vector<Range>& live, const std::vector<AnswerEnd>& ends,
                     std::vector<std::unique_ptr<Recorder>>& recorders);

    Transport& inner_;
    std::map<std::string, File> files_;
    bool recording_ = false;
    unsigned long long kept_ = 0;
};
