#pragma once

#include <string>

// The line a copy into the channel shows: its path, the tenths of a large
// file as they pass, and how it ended.
class CopyProgress {
public:
    CopyProgress(const std::string& path, unsigned long long total);
    void advance(unsigned long long copied);
    void finish(bool copied);

private:
    unsigned long long total_;
    int shownTenths_;
};
