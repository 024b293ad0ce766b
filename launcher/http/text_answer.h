#pragma once

#include "launcher/http/answer.h"

#include <cstddef>
#include <string>

// A small answer (the lock, the manifest, the release) as text, up to
// `limit` bytes of its body; past that, reading stops and `overflowed` is set.
class TextAnswer : public AnswerSink {
public:
    explicit TextAnswer(std::size_t limit) : limit_(limit) {}

    bool takeHead(const AnswerHead& head) override;
    bool takeBody(const char* data, std::size_t size) override;

    AnswerHead head;
    std::string body;
    bool overflowed = false;

private:
    std::size_t limit_;
};
