#pragma once

#include "publisher/adoption/access_log_line.h"

#include <map>
#include <string>
#include <string_view>

// Per release, the starts one day's log shows: each asked for the release's
// manifest object once, whatever the answer (a 304 or 206 is a start too);
// an answer of 400 or above is an error.
struct StartCounts {
    unsigned long long starts = 0;
    unsigned long long errors = 0;
};

// The counts of access log lines, taken one at a time: nothing of a line is
// kept but what it adds to its day's counts.
class AdoptionTally {
public:
    // `channelPath`: the path a launcher asks under, "/~qel/ORN/windows/NAME/";
    // `serialOfManifest`: each kept release's manifest SHA-256 and serial.
    AdoptionTally(std::string channelPath, std::map<std::string, unsigned long long> serialOfManifest);

    void take(std::string_view line);
    void skip() { ++lines_, ++skipped_; }  // a line too long to read

    // Day (days since 1970-01-01 UTC) -> serial -> counts, only days with a start.
    const std::map<long long, std::map<unsigned long long, StartCounts>>& days() const { return days_; }
    unsigned long long lines() const { return lines_; }
    unsigned long long skipped() const { return skipped_; }

private:
    std::string objectsPath_;
    AccessLogLine line_;  // reused: its strings' room outlives a line
    std::map<std::string, unsigned long long, std::less<>> serialOfManifest_;
    std::map<long long, std::map<unsigned long long, StartCounts>> days_;
    unsigned long long lines_ = 0;
    unsigned long long skipped_ = 0;
};
