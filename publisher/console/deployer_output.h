#pragma once

#include <string>

// Every line orn-publish writes, by its kind; no room writes to the console
// itself (main's usage text aside). Standard output carries the report,
// which scripts and cron's mail read; standard error what the deployer must
// read apart from it, each line begun "orn-publish: ". Text from the web
// server goes through shownText first.

// A whole line of the report, flushed at once.
void reportLine(const std::string& line);
// A whole line of the report left for the next flush to carry.
void reportLineUnflushed(const std::string& line);
// Part of a report line, flushed so that a long copy is seen to move.
void reportPart(const std::string& part);
// What the report holds so far, out before standard error is written, so
// that the two keep their order when both go to one file.
void flushReport();

// "orn-publish: " and `message` on standard error: a failure, what a failed
// or stopped run left and what to do, or a note such as where a key went.
void diagnosticLine(const std::string& message);
// "orn-publish: warning: " and `warning` on standard error.
void warningLine(const std::string& warning);
