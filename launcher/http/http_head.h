#pragma once

#include "launcher/http/answer.h"

#include <string>

// An answer's head and chunk-size lines, as the server sent them: anything
// that could be read two ways is refused, so that no body is framed wrongly.

// Without the blanks (spaces, tabs) at either end.
std::string trimmed(const std::string& text);

// Where the body ends: after Content-Length bytes, after the last chunk, or at the connection's close.
enum class Framing { length, chunked, toClose };

// "HTTP/1.x NNN reason": the status (100 to 999), and whether the version keeps the connection.
bool parseStatusLine(const std::string& statusLine, AnswerHead& answer, bool& keepsOpen);

// One "Name: value" field, as far as the launcher needs it; false when the
// answer cannot be trusted. Transfer codings add up in `transferCoding`.
bool takeField(const std::string& line, AnswerHead& answer, std::string& transferCoding, bool& keepsOpen);

// An answer's head: its status line and fields, each ended by "\r\n"
// (the empty line after them not included); `keepsOpen`: the server
// leaves the connection open after this answer.
bool parseHead(const std::string& head, AnswerHead& answer, Framing& framing, bool& keepsOpen);

// A chunk's size line (without its "\r\n"): hex digits, then any extensions after ';'.
bool parseChunkSize(const std::string& line, unsigned long long& size);
