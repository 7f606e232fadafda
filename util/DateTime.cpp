#include "util/DateTime.h"

#include "util/Log.h"
#include "util/Text.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace {

constexpr std::int64_t msPerDay = 86400000;
// Days from 1970-01-01 back to 1899-12-30.
constexpr std::int64_t unixEpochDays = 25569;
// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::int64_t fileTimeUnixOffset = 11644473600LL;

// Proleptic Gregorian days since 1970-01-01 (Howard Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

} // namespace

std::uint64_t fileTimeTicks(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME fileTimeFromTicks(std::uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<std::uint32_t>(ticks);
    ft.dwHighDateTime = static_cast<std::uint32_t>(ticks >> 32);
    return ft;
}

FILETIME fileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
    std::int64_t ticks = (seconds + fileTimeUnixOffset) * 10000000 + nanoseconds / 100;
    return fileTimeFromTicks(ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks));
}

bool tryEncodeDateTime(const DateTimeParts& p, DateTime& result) {
    if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
        p.day > daysInMonth(p.year, p.month) || p.hour < 0 || p.hour > 23 || p.minute < 0 ||
        p.minute > 59 || p.second < 0 || p.second > 59 || p.millisecond < 0 || p.millisecond > 999)
        return false;
    std::int64_t days = daysFromCivil(p.year, p.month, p.day) + unixEpochDays;
    std::int64_t ms = ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.millisecond;
    result = static_cast<double>(days) + static_cast<double>(ms) / msPerDay;
    return true;
}

DateTimeParts decodeDateTime(DateTime value) {
    double whole = std::floor(value);
    auto days = static_cast<std::int64_t>(whole);
    auto ms = static_cast<std::int64_t>(std::llround((value - whole) * msPerDay));
    if (ms >= msPerDay) {
        ++days;
        ms -= msPerDay;
    }
    DateTimeParts p;
    civilFromDays(days - unixEpochDays, p.year, p.month, p.day);
    p.millisecond = static_cast<int>(ms % 1000);
    ms /= 1000;
    p.second = static_cast<int>(ms % 60);
    ms /= 60;
    p.minute = static_cast<int>(ms % 60);
    p.hour = static_cast<int>(ms / 60);
    return p;
}

DateTime dateOf(DateTime value) {
    DateTimeParts p = decodeDateTime(value);
    p.hour = p.minute = p.second = p.millisecond = 0;
    DateTime result = 0;
    tryEncodeDateTime(p, result);
    return result;
}

DateTime timeOf(DateTime value) {
    return value - dateOf(value);
}

DateTime nowLocal() {
    auto now = std::chrono::system_clock::now();
    auto sinceEpoch = now.time_since_epoch();
    std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch).count();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    DateTimeParts p{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,       local.tm_hour,
                    local.tm_min,         local.tm_sec,     static_cast<int>(ms)};
    if (p.second > 59) // a leap second
        p.second = 59;
    DateTime result = 0;
    tryEncodeDateTime(p, result);
    return result;
}

std::string formatTimeStamp(DateTime value) {
    DateTimeParts p = decodeDateTime(value);
    return formatString("%04d%02d%02d%02d%02d%02d", p.year, p.month, p.day, p.hour, p.minute,
                        p.second);
}

DateTime parseTimeStamp(const std::string& text, DateTime defaultValue) {
    if (text.empty())
        return defaultValue;
    auto piece = [&text](std::size_t from, std::size_t length, int fallback) {
        if (from >= text.size())
            return fallback;
        return toInt(text.substr(from, length), fallback);
    };
    DateTimeParts p;
    p.year = piece(0, 4, decodeDateTime(defaultValue).year);
    p.month = piece(4, 2, 1);
    p.day = piece(6, 2, 1);
    p.hour = piece(8, 2, 0);
    p.minute = piece(10, 2, 0);
    p.second = piece(12, 2, 0);
    p.millisecond = 0;
    DateTime result = 0;
    if (!tryEncodeDateTime(p, result))
        return defaultValue;
    return result;
}

DateTime fileTimeToDateTime(const FILETIME& ft) {
    std::uint64_t ticks = fileTimeTicks(ft);
    std::int64_t totalSeconds = static_cast<std::int64_t>(ticks / 10000000);
    std::int64_t days = totalSeconds / 86400;
    std::int64_t seconds = totalSeconds % 86400;
    // 1601-01-01 is day -109205 of the 1899-12-30 count.
    std::int64_t dayNumber = days + daysFromCivil(1601, 1, 1) + unixEpochDays;
    return static_cast<double>(dayNumber) + static_cast<double>(seconds) / 86400.0;
}

FILETIME dateTimeToFileTime(DateTime value) {
    DateTimeParts p = decodeDateTime(value);
    std::int64_t days = daysFromCivil(p.year, p.month, p.day) - daysFromCivil(1601, 1, 1);
    std::int64_t ms =
        days * msPerDay + ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.millisecond;
    return fileTimeFromTicks(ms < 0 ? 0 : static_cast<std::uint64_t>(ms) * 10000);
}

std::string formatMailDate(const FILETIME& ft) {
    static const char* const weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::int64_t seconds = static_cast<std::int64_t>(fileTimeTicks(ft) / 10000000);
    std::int64_t days = seconds / 86400 + daysFromCivil(1601, 1, 1); // since 1970-01-01
    std::int64_t ofDay = seconds % 86400;
    int y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    // 1970-01-01 was a Thursday; days is never below the count of 1601-01-01.
    int weekday = static_cast<int>(((days % 7) + 7 + 4) % 7);
    return formatString("%s, %02d %s %04d %02d:%02d:%02d +0000", weekdays[weekday], d,
                        months[m - 1], y, static_cast<int>(ofDay / 3600),
                        static_cast<int>(ofDay / 60 % 60), static_cast<int>(ofDay % 60));
}
