#include "launcher/log/logged_transport.h"

#include <chrono>
#include <memory>

namespace {

// Passes an answer on, noting its status and how many body bytes were taken.
class CountingSink : public AnswerSink {
public:
    explicit CountingSink(AnswerSink& inner) : inner_(inner) {}
    bool takeHead(const AnswerHead& head) override
    {
        status_ = head.status;
        return inner_.takeHead(head);
    }
    bool takeBody(const char* data, std::size_t size) override
    {
        bytes_ += size;
        return inner_.takeBody(data, size);
    }
    std::string outcome(AnswerEnd end) const
    {
        const char* ended = end == AnswerEnd::complete ? "" : end == AnswerEnd::stopped ? ", stopped" : ", failed";
        return (status_ == 0 ? std::string("no answer") : "status " + std::to_string(status_)) + ", " +
               std::to_string(bytes_) + " bytes" + ended;
    }

private:
    AnswerSink& inner_;
    int status_ = 0;
    unsigned long long bytes_ = 0;
};

std::string milliseconds(std::chrono::steady_clock::time_point since)
{
    const auto elapsed = std::chrono::steady_clock::now() - since;
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()) + " ms";
}

std::string rangeText(unsigned long long first, unsigned long long last)
{
    return " bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

}  // namespace

AnswerEnd LoggedTransport::get(const std::string& uri, const HeaderFields& fields, AnswerSink& sink)
{
    std::string asked = server_ + "GET " + uri;
    for (const auto& field : fields)
        asked += (field.first == "Range" ? " " : " " + field.first + ": ") + field.second;
    CountingSink counting(sink);
    const auto start = std::chrono::steady_clock::now();
    const AnswerEnd end = inner_.get(uri, fields, counting);
    log_.line(asked + ": " + counting.outcome(end) + ", " + milliseconds(start));
    return end;
}

void LoggedTransport::askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends)
{
    std::vector<std::unique_ptr<CountingSink>> counting(ranges.size());
    const auto start = std::chrono::steady_clock::now();
    inner_.askInOrder(
        ranges,
        [&](std::size_t i) -> AnswerSink* {
            AnswerSink* const sink = sinkFor(i);
            if (sink == nullptr)
                return nullptr;
            counting[i] = std::make_unique<CountingSink>(*sink);  // asked again after a close: counted anew
            return counting[i].get();
        },
        ends);
    log_.line(server_ + std::to_string(ranges.size()) + " ranges asked in order, " + milliseconds(start) + ":");
    for (std::size_t i = 0; i < ranges.size(); ++i)
        log_.line("  " + server_ + "GET " + ranges[i].uri + rangeText(ranges[i].first, ranges[i].last) + ": " +
                  (counting[i] ? counting[i]->outcome(i < ends.size() ? ends[i] : AnswerEnd::failed) : "not asked"));
}

void LoggedTransport::askOneAtATime()
{
    if (inner_.pipelines())
        log_.line("pipelined answers not to be trusted: one request at a time from now on");
    inner_.askOneAtATime();
}
