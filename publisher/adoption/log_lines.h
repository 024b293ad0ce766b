#pragma once

#include <zlib.h>

#include <string>
#include <string_view>
#include <vector>

// The longest access log line read; a longer one is skipped whole.
inline constexpr std::size_t longestLogLine = 64u << 10;

// An access log read line by line in bounded memory, plain or gzipped (as
// logrotate leaves them), told apart by the gzip magic bytes, not the name.
class LogLines {
public:
    enum class Next { line, tooLong, end, failed };

    LogLines() = default;
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;
    ~LogLines();

    // False, with the reason, when `path` cannot be read (a directory included).
    bool open(const std::string& path, std::string& failure);
    // The next line, without its line feed (or a CR before it), valid until
    // the next call; `failed`, with the reason, for a damaged or cut gzip
    // stream or a read error.
    Next next(std::string_view& line, std::string& failure);

private:
    bool fill(std::string& failure);
    std::string failureText(const char* what) const;

    gzFile file_ = nullptr;
    std::string path_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool atEnd_ = false;
    bool discarding_ = false;  // inside a line too long, until its line feed
};
