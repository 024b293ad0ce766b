#pragma once

#include <string>

// The calendar of release expiries: "YYYY-MM-DDTHH:MM:SSZ", UTC, proleptic
// Gregorian, and seconds since 1970-01-01 UTC.
std::string utcTimeText(long long secondsSinceEpoch);
// False for anything but the form utcTimeText writes and a real date.
bool parseUtcTime(const std::string& text, long long& secondsSinceEpoch);

inline constexpr long long secondsPerDay = 86400;
// Days from `now` until `at`, a part of a day counted whole; negative (whole
// days) once it has passed.
long long daysUntil(long long at, long long now);
// Whether `at` comes less than `days` days after `now` (or has come).
bool isWithinDays(long long at, long long now, unsigned days);
