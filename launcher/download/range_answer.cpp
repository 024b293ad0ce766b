#include "launcher/download/range_answer.h"

#include "launcher/http/http_fields.h"

namespace {

const int partialContent = 206;

}  // namespace

bool isRangeAnswer(const AnswerHead& head, unsigned long long first, unsigned long long last, unsigned long long total)
{
    ContentRange range;
    unsigned long long declared = 0;
    return head.status == partialContent && parseContentRange(head.contentRange, range) && range.satisfied &&
           range.first == first && range.last == last && range.total == total &&
           (head.contentLength.empty() ||
            (parseContentLength(head.contentLength, declared) && declared == last - first + 1));
}
