#include "launcher/download/range_cache.h"

#include "launcher/download/range_answer.h"

#include <algorithm>
#include <memory>

// Passes an answer on, and keeps a copy of it when it is the exact range asked for.
class RangeCache::Recorder : public AnswerSink {
public:
    Recorder(AnswerSink& inner, const Range& range) : inner_(inner), range_(range) {}

    bool takeHead(const AnswerHead& head) override
    {
        head_ = head;
        return inner_.takeHead(head);
    }
    bool takeBody(const char* data, std::size_t size) override
    {
        if (body_.size() + size <= range_.last - range_.first + 1)
            body_.append(data, size);
        else
            overflowed_ = true;
        return inner_.takeBody(data, size);
    }
    // The bytes, when the answer was whole and exactly the range, of a file of `size` bytes.
    bool take(AnswerEnd end, unsigned long long size, std::string& bytes)
    {
        if (end != AnswerEnd::complete || overflowed_ || body_.size() != range_.last - range_.first + 1 ||
            !isRangeAnswer(head_, range_.first, range_.last, size))
            return false;
        bytes.swap(body_);
        return true;
    }

private:
    AnswerSink& inner_;
    Range range_;
    AnswerHead head_;
    std::string body_;
    bool overflowed_ = false;
};

bool RangeCache::covers(const Range& range) const
{
    const auto file = files_.find(range.uri);
    if (file == files_.end() || range.last < range.first || range.last >= file->second.size)
        return false;
    const auto& pieces = file->second.pieces;
    for (unsigned long long at = range.first; at <= range.last;) {
        auto piece = pieces.upper_bound(at);
        if (piece == pieces.begin())
            return false;
        --piece;
        if (piece->first + piece->second.size() <= at)
            return false;
        at = piece->first + piece->second.size();
    }
    return true;
}

AnswerEnd RangeCache::replay(const Range& range, AnswerSink& sink) const
{
    const File& file = files_.at(range.uri);
    AnswerHead head;
    head.status = 206;
    head.contentLength = std::to_string(range.last - range.first + 1);
    head.contentRange =
        "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + std::to_string(file.size);
    if (!sink.takeHead(head))
        return AnswerEnd::stopped;
    for (unsigned long long at = range.first; at <= range.last;) {
        auto piece = --file.pieces.upper_bound(at);
        const std::size_t from = static_cast<std::size_t>(at - piece->first);
        const std::size_t size =
            static_cast<std::size_t>(std::min<unsigned long long>(piece->second.size() - from, range.last - at + 1));
        if (!sink.takeBody(piece->second.data() + from, size))
            return AnswerEnd::stopped;
        at += size;
    }
    return AnswerEnd::complete;
}

void RangeCache::keep(const Range& range, std::string bytes)
{
    kept_ += bytes.size();
    std::string& kept = files_[range.uri].pieces[range.first];
    if (kept.size() < bytes.size())
        kept.swap(bytes);
}

void RangeCache::keepAnswers(const std::vector<Range>& live, const std::vector<AnswerEnd>& ends,
                             std::vector<std::unique_ptr<Recorder>>& recorders)
{
    for (std::size_t j = 0; recording_ && j < live.size() && j < ends.size(); ++j) {
        const auto file = files_.find(live[j].uri);
        std::string bytes;
        if (recorders[j] != nullptr && file != files_.end() && recorders[j]->take(ends[j], file->second.size, bytes))
            keep(live[j], std::move(bytes));
    }
}

void RangeCache::askInOrder(const std::vector<Range>& ranges, const SinkFor& sinkFor, std::vector<AnswerEnd>& ends)
{
    ends.assign(ranges.size(), AnswerEnd::failed);
    std::vector<Range> live;
    std::vector<std::size_t> liveAt;  // of each live range, in `ranges`
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (!covers(ranges[i])) {
            live.push_back(ranges[i]);
            liveAt.push_back(i);
        }
    }
    std::size_t next = 0, asked = 0;  // the first range not yet handed to a sink; the live ones handed
    bool stopped = false;
    const auto replayUpTo = [&](std::size_t end) {
        for (; next < end && !stopped; ++next) {
            AnswerSink* const sink = sinkFor(next);
            stopped = sink == nullptr;
            if (sink != nullptr)
                ends[next] = replay(ranges[next], *sink);
        }
        return !stopped;
    };
    std::vector<AnswerEnd> liveEnds;
    std::vector<std::unique_ptr<Recorder>> recorders(live.size());
    const auto settle = [&](std::size_t upTo) {  // the ends the inner transport has given so far
        for (std::size_t j = 0; j < upTo && j < liveEnds.size(); ++j)
            ends[liveAt[j]] = liveEnds[j];
    };
    if (!live.empty()) {
        const auto liveSink = [&](std::size_t j) -> AnswerSink* {
            settle(j);
            if (!replayUpTo(liveAt[j]))
                return nullptr;
            next = std::max(next, liveAt[j] + 1);
            AnswerSink* const sink = sinkFor(liveAt[j]);
            stopped = sink == nullptr;
            asked = sink == nullptr ? asked : std::max(asked, j + 1);
            if (sink == nullptr || !recording_)
                return sink;                                            // an answer not kept is never held whole
            recorders[j] = std::make_unique<Recorder>(*sink, live[j]);  // anew when asked again
            return recorders[j].get();
        };
        inner_.askInOrder(live, liveSink, liveEnds);
        settle(live.size());
        keepAnswers(live, liveEnds, recorders);
    }
    // A transport that gave up before its last range answers nothing after it either.
    if (asked == live.size())
        replayUpTo(ranges.size());
}
