#pragma once

#include "launcher/http/answer.h"

// Whether `head` is a 206 for exactly bytes first..last of a file of
// `total` bytes, its Content-Length (when given) agreeing: any other range
// is none of what was asked for.
bool isRangeAnswer(const AnswerHead& head, unsigned long long first, unsigned long long last, unsigned long long total);
