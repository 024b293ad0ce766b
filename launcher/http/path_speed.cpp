#include "launcher/http/path_speed.h"

#include <algorithm>

void PathSpeed::take(AnswerEnd end, double headSeconds, double bodySeconds, unsigned long long bodyBytes)
{
    const unsigned long long timedBodyBytes = 256 * 1024;
    if (end != AnswerEnd::complete)
        return;
    if (roundTripSeconds_ == 0 || headSeconds < roundTripSeconds_)
        roundTripSeconds_ = headSeconds;
    if (bodyBytes >= timedBodyBytes && bodySeconds > 0)
        bytesPerSecond_ = std::max(bytesPerSecond_, static_cast<double>(bodyBytes) / bodySeconds);
}

unsigned long long PathSpeed::bytesPerRoundTrip() const
{
    return static_cast<unsigned long long>(bytesPerSecond_ * roundTripSeconds_);
}
