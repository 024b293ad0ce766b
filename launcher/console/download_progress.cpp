#include "launcher/console/download_progress.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace {

const auto redrawEvery = std::chrono::milliseconds(200);

// At most `width` bytes, never cutting a UTF-8 character in two.
std::string fitted(const std::string& text, std::size_t width)
{
    if (text.size() <= width)
        return text;
    while (width > 0 && (static_cast<unsigned char>(text[width]) & 0xc0u) == 0x80u)
        --width;
    return text.substr(0, width);
}

std::string megabytes(unsigned long long bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// "1,023.0 MB": a delta's figures span from a few kilobytes to gigabytes.
std::string groupedMegabytes(unsigned long long bytes)
{
    const unsigned long long tenths = (bytes + 50000) / 100000;
    std::string whole = std::to_string(tenths / 10);
    for (std::size_t at = whole.size(); at > 3; at -= 3)
        whole.insert(at - 3, ",");
    return whole + "." + std::to_string(tenths % 10) + " MB";
}

// "8 s", "2 min 05 s", "1 h 07 min": what is left at the rate so far.
std::string duration(unsigned long long seconds)
{
    char text[32];
    if (seconds < 60)
        std::snprintf(text, sizeof text, "%u s", static_cast<unsigned>(seconds));
    else if (seconds < 3600)
        std::snprintf(text, sizeof text, "%u min %02u s", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%llu h %02u min", seconds / 3600, static_cast<unsigned>(seconds / 60 % 60));
    return text;
}

}  // namespace

DownloadProgress::DownloadProgress(std::string line) : line_(std::move(line)) {}

void DownloadProgress::start(unsigned long long from, bool resumed)
{
    startedAt_ = from;
    started_ = std::chrono::steady_clock::now();
    lastDrawn_ = started_ - redrawEvery;
    startText_ = resumed ? " resumed at " + megabytes(from) + "," : "";
}

void DownloadProgress::startDelta(unsigned long long from, unsigned long long total, unsigned long long reused,
                                  unsigned long long fetching)
{
    start(from, false);
    startText_ = " reused " + groupedMegabytes(reused) + ", fetching " + groupedMegabytes(fetching) + ",";
    advance(from, total);  // shown at once: copying may take a while before the first request
}

void DownloadProgress::advance(unsigned long long done, unsigned long long total)
{
    if (total == 0 || !due())
        return;
    done = std::min(done, total);  // a server that sends more than it announced never shows past 100%
    const double seconds = std::chrono::duration<double>(lastDrawn_ - started_).count();
    const double rate = seconds > 0 && done > startedAt_ ? static_cast<double>(done - startedAt_) / seconds : 0.0;
    const std::string left =
        rate > 0 ? ", " + duration(static_cast<unsigned long long>(static_cast<double>(total - done) / rate)) + " left"
                 : "";
    char text[200];
    std::snprintf(text, sizeof text, "%s %3u%% %s of %s, %.1f MB/s%s", startText_.c_str(),
                  static_cast<unsigned>(done * 100 / total), megabytes(done).c_str(), megabytes(total).c_str(),
                  rate / 1e6, left.c_str());
    draw(line_ + text);
}

void DownloadProgress::scanning(unsigned long long done, unsigned long long total)
{
    if (total == 0 || !due())
        return;
    done = std::min(done, total);
    char text[120];
    std::snprintf(text, sizeof text, " comparing with the installed copy, %3u%% of %s",
                  static_cast<unsigned>(done * 100 / total), groupedMegabytes(total).c_str());
    draw(line_ + text);
}

// At most five redraws a second: a console redrawn per buffer slows the download.
bool DownloadProgress::due()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ < redrawEvery)
        return false;
    lastDrawn_ = now;
    return true;
}

void DownloadProgress::finish()
{
    if (drawnWidth_ > 0)
        draw(line_);
}

void DownloadProgress::draw(const std::string& text)
{
    // One column short of the console's width: a full line would wrap and scroll.
    const std::size_t width = static_cast<std::size_t>(platform::consoleColumns()) - 1;
    std::string shown = fitted(text, width);
    const std::size_t drawn = shown.size();
    if (drawnWidth_ > drawn)
        shown += std::string(drawnWidth_ - drawn, ' ') + "\r" + fitted(text, width);
    std::cout << '\r' << shown << std::flush;
    drawnWidth_ = drawn > drawnWidth_ ? drawn : drawnWidth_;
}
