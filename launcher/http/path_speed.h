#pragma once

#include "launcher/http/answer.h"

// The path's round trip (the quickest head after a request sent alone) and
// rate (the fastest body of a size worth timing), from the run's own answers.
class PathSpeed {
public:
    void take(AnswerEnd end, double headSeconds, double bodySeconds, unsigned long long bodyBytes);
    // What one round trip carries at the rate seen so far; 0 before anything was timed.
    unsigned long long bytesPerRoundTrip() const;

private:
    double roundTripSeconds_ = 0;
    double bytesPerSecond_ = 0;
};
