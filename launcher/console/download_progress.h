#pragma once

#include "launcher/console/console.h"

#include <chrono>
#include <string>

// A download's "* path..." line redrawn in place on a console, with the
// percentage, the bytes so far and in all, the rate and the time left, at
// most five times a second and narrower than the console. finish() puts the line
// back as it was, so that the outcome completes it exactly as without a
// console. Only ever made when standard output is a console.
class DownloadProgress : public FileProgress {
public:
    explicit DownloadProgress(std::string line);

    void start(unsigned long long from, bool resumed) override;
    void startDelta(unsigned long long from, unsigned long long total, unsigned long long reused,
                    unsigned long long fetching) override;
    void advance(unsigned long long done, unsigned long long total) override;
    void scanning(unsigned long long done, unsigned long long total) override;
    void finish();

private:
    bool due();
    void draw(const std::string& text);

    std::string line_;
    std::string startText_;  // how the download began, before its figures
    std::size_t drawnWidth_ = 0;
    unsigned long long startedAt_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastDrawn_;
};
