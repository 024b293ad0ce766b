#include "channel/utc_time.h"

#include <cstdio>

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian), and back.
long long daysFromCivil(long long year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

void civilFromDays(long long days, long long& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<long long>(yearOfEra) + era * 400 + (month <= 2);
}

}  // namespace

std::string utcTimeText(long long secondsSinceEpoch)
{
    const long long days = (secondsSinceEpoch >= 0 ? secondsSinceEpoch : secondsSinceEpoch - 86399) / 86400;
    const long long second = secondsSinceEpoch - days * 86400;
    long long year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", year, month, day, second / 3600,
                  second / 60 % 60, second % 60);
    return text;
}

bool parseUtcTime(const std::string& text, long long& secondsSinceEpoch)
{
    // YYYY-MM-DDTHH:MM:SSZ, every digit where releaseBody puts one.
    const std::string shape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != shape[i])
            return false;
    }
    const auto number = [&text](std::size_t at, std::size_t length) {
        return static_cast<unsigned>(std::stoul(text.substr(at, length)));
    };
    const unsigned year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const unsigned hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
        return false;
    const long long days = daysFromCivil(year, month, day);
    long long checkYear = 0;
    unsigned checkMonth = 0;
    unsigned checkDay = 0;
    civilFromDays(days, checkYear, checkMonth, checkDay);
    if (checkMonth != month || checkDay != day)  // 31 April and the like
        return false;
    secondsSinceEpoch = days * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

long long daysUntil(long long at, long long now)
{
    // Up for what is ahead: a 90-day release is "in 90 days" until a whole day has passed.
    const long long left = at - now;
    return left > 0 ? (left + secondsPerDay - 1) / secondsPerDay : left / secondsPerDay;
}

bool isWithinDays(long long at, long long now, unsigned days)
{
    return at - now < secondsPerDay * static_cast<long long>(days);
}
