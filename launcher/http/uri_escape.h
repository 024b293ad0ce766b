#pragma once

#include <string>

// A manifest path as it may stand in a request line: every byte outside the
// unreserved and sub-delimiter characters, ":", "@" and "/" becomes "%XX", so
// a blank or a "%" in a file name reaches the server as that file's name.
std::string escapeUriPath(const std::string& path);
