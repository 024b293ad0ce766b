#include "launcher/download/step_answer.h"

#include "launcher/download/range_answer.h"

AnswerSink* StepAnswer::arm(const DeltaStep& step)
{
    step_ = &step;
    headTaken_ = false;
    wrongBytes_ = false;
    // A piece continues the chunks of the pieces before it (asked again, it had given nothing yet).
    if (startsChunks(step.part))
        writer_.startRange();
    return this;
}

bool StepAnswer::takeHead(const AnswerHead& answer)
{
    headTaken_ = isRangeAnswer(answer, step_->firstByte, step_->firstByte + step_->bytes - 1, fileSize_);
    return headTaken_;
}

bool StepAnswer::takeBody(const char* data, std::size_t size)
{
    wrongBytes_ = !writer_.receive(data, size, step_->firstChunk + step_->chunks);
    if (progress_ != nullptr)
        progress_->advance(writer_.written(), fileSize_);
    return !wrongBytes_;
}
