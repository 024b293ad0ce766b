#pragma once

#include <string>

// The calendar of release expiries: "YYYY-MM-DDTHH:MM:SSZ", UTC, proleptic
// Gregorian, and seconds since 1970-01-01 UTC.
std::string utcTimeText(long long secondsSinceEpoch);
// False for anything but the form utcTimeText writes and a real date.
bool parseUtcTime(const std::string& text, long long& secondsSinceEpoch);
