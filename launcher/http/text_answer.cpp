#include "launcher/http/text_answer.h"

bool TextAnswer::takeHead(const AnswerHead& answerHead)
{
    head = answerHead;
    return true;
}

bool TextAnswer::takeBody(const char* data, std::size_t size)
{
    if (size > limit_ - body.size()) {
        body.append(data, limit_ - body.size());
        overflowed = true;
        return false;
    }
    body.append(data, size);
    return true;
}
