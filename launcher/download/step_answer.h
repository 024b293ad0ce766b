#pragma once

#include "launcher/console/console.h"
#include "launcher/download/chunk_writer.h"
#include "launcher/download/delta_plan.h"
#include "launcher/http/answer.h"

#include <cstddef>

// The answer to a fetched step's range request, written as it arrives
// through the chunks' check. Only the range asked for, of the file the
// release signs, is taken: a 200 (the whole file) or any other range ends
// the delta.
class StepAnswer : public AnswerSink {
public:
    StepAnswer(ChunkWriter& writer, unsigned long long fileSize, FileProgress* progress)
        : writer_(writer), fileSize_(fileSize), progress_(progress)
    {
    }

    // Ready for `step`'s answer, or for it again when it was asked again.
    AnswerSink* arm(const DeltaStep& step);
    // Whether the answer was the range asked for, with no byte but its chunks'.
    bool taken() const { return headTaken_ && !wrongBytes_; }

    bool takeHead(const AnswerHead& answer) override;
    bool takeBody(const char* data, std::size_t size) override;

private:
    ChunkWriter& writer_;
    unsigned long long fileSize_;
    FileProgress* progress_;
    const DeltaStep* step_ = nullptr;
    bool headTaken_ = false;
    bool wrongBytes_ = false;
};
