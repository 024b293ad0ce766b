#pragma once

#include <string>

// The header fields that decide whether a download is whole. They come from
// the network, so anything that is not exactly the expected form is refused.

// A Content-Length value: decimal digits, optionally surrounded by blanks.
bool parseContentLength(const std::string& field, unsigned long long& length);

// A Content-Range value: "bytes FIRST-LAST/TOTAL" with FIRST <= LAST < TOTAL,
// or, for a range that cannot be satisfied, "bytes */TOTAL" (satisfied false).
struct ContentRange {
    bool satisfied = false;
    unsigned long long first = 0;
    unsigned long long last = 0;
    unsigned long long total = 0;
};
bool parseContentRange(const std::string& field, ContentRange& range);
