#pragma once

#include <cstdint>
#include <string>

// A date and time of day as days since 30 December 1899, 00:00 (the fraction is the
// time of day). 0 stands for "no date" where a stored date can be absent.
using DateTime = double;

// 100-nanosecond ticks since 1 January 1601 (UTC for the store's times), low word first.
struct FILETIME {
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;
};

std::uint64_t fileTimeTicks(const FILETIME& ft);
FILETIME fileTimeFromTicks(std::uint64_t ticks);
// Seconds and nanoseconds since 1970 (a file's mtime) as FILETIME.
FILETIME fileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds = 0);

struct DateTimeParts {
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// False when the parts do not form a real date and time of day (month 13, 30 February,
// hour 24, ...).
bool tryEncodeDateTime(const DateTimeParts& parts, DateTime& result);
DateTimeParts decodeDateTime(DateTime value);
// The date alone (whole days) and the time of day alone (the fraction).
DateTime dateOf(DateTime value);
DateTime timeOf(DateTime value);

// The local date and time now.
DateTime nowLocal();

// "%04d%02d%02d%02d%02d%02d", milliseconds dropped.
std::string formatTimeStamp(DateTime value);
// Empty text gives the default. Otherwise 4, 2, 2, 2, 2, 2 characters from the left;
// a missing or non-integer part takes the default's year, 1 for month and day, 0 for
// the time. Parts that form no real date or time (month 13) give the default.
DateTime parseTimeStamp(const std::string& text, DateTime defaultValue);

// Calendar date and time of day of the FILETIME, no time-zone conversion,
// milliseconds dropped.
DateTime fileTimeToDateTime(const FILETIME& ft);
FILETIME dateTimeToFileTime(DateTime value);
// A UTC FILETIME as a mail's date ("Tue, 08 Dec 2026 14:03:00 +0000"): English names
// whatever the locale, fractions of a second dropped.
std::string formatMailDate(const FILETIME& ft);
