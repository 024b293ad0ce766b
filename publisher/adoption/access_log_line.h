#pragma once

#include <string>
#include <string_view>

// One line of a web server's access log in the combined format that nginx
// and Apache write by default:
//   HOST IDENT USER [DD/Mon/YYYY:HH:MM:SS +ZZZZ] "METHOD TARGET VERSION" STATUS BYTES "REFERER" "AGENT"
// The referer and agent may be missing (the common format), and what follows
// them (fields a server adds) is not read.
struct AccessLogLine {
    long long day = 0;   // days since 1970-01-01, in UTC
    std::string method;  // empty when the request line is not "METHOD TARGET VERSION"
    std::string path;    // the target's path, %XX decoded, its query and any scheme and host cut off
    int status = 0;
};

// False for a line that is not of that shape or names no real time.
bool parseAccessLogLine(std::string_view line, AccessLogLine& parsed);
