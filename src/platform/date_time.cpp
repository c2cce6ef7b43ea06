#include "platform/date_time.h"

#include <chrono>
#include <cmath>

#include "platform/exception.h"

namespace ts {

namespace {

using namespace std::chrono;

constexpr double kMillisecondsPerDay = 86400000.0;
constexpr int64_t kMillisecondsPerDayInt = 86400000;
const sys_days kEpoch = sys_days{year{1899} / December / 30};

int64_t dayNumber(int y, int m, int d) {
    year_month_day date{year{y}, month{static_cast<unsigned>(m)}, day{static_cast<unsigned>(d)}};
    if (!date.ok())
        throw TsException("Invalid date " + std::to_string(y) + "-" + std::to_string(m) + "-" +
                          std::to_string(d));
    return (sys_days{date} - kEpoch).count();
}

}  // namespace

double encodeDateTime(const CivilDateTime& c) {
    auto days = static_cast<double>(dayNumber(c.year, c.month, c.day));
    double time = ((c.hour * 60.0 + c.minute) * 60.0 + c.second) * 1000.0 + c.millisecond;
    double fraction = time / kMillisecondsPerDay;
    return days < 0 ? days - fraction : days + fraction;
}

CivilDateTime decodeDateTime(double dateTime) {
    // 1 January of year 1 and 31 December 9999, the range a date-time can describe.
    constexpr double kMin = -693593.0;
    constexpr double kMax = 2958466.0;
    if (!std::isfinite(dateTime) || dateTime <= kMin - 1 || dateTime >= kMax)
        throw TsException("Date-time value out of range: " + std::to_string(dateTime));
    double whole = std::trunc(dateTime);
    auto days = static_cast<int64_t>(whole);
    auto milliseconds = static_cast<int64_t>(std::llround(std::fabs(dateTime - whole) * kMillisecondsPerDay));
    if (milliseconds >= kMillisecondsPerDayInt) {  // rounded up to the next midnight
        milliseconds -= kMillisecondsPerDayInt;
        days += days < 0 ? -1 : 1;
    }
    year_month_day date{kEpoch + std::chrono::days{days}};
    CivilDateTime c;
    c.year = static_cast<int>(date.year());
    c.month = static_cast<int>(static_cast<unsigned>(date.month()));
    c.day = static_cast<int>(static_cast<unsigned>(date.day()));
    c.hour = static_cast<int>(milliseconds / 3600000);
    c.minute = static_cast<int>(milliseconds / 60000 % 60);
    c.second = static_cast<int>(milliseconds / 1000 % 60);
    c.millisecond = static_cast<int>(milliseconds % 1000);
    return c;
}

double dateTimeNow() {
    auto now = system_clock::now();
    auto sinceEpoch = duration_cast<milliseconds>(now.time_since_epoch()).count();
    auto seconds = static_cast<std::time_t>(sinceEpoch / 1000);
    auto millisecond = static_cast<int>(sinceEpoch % 1000);
    if (millisecond < 0) {
        millisecond += 1000;
        --seconds;
    }
    return dateTimeFromTimeT(seconds, millisecond);
}

double dateTimeFromTimeT(std::time_t moment, int millisecond) {
    std::tm local{};
    if (!localtime_r(&moment, &local))
        throw TsException("Cannot convert the time " + std::to_string(moment) + " to local time");
    return encodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec, millisecond});
}

std::time_t timeTFromDateTime(double dateTime) {
    CivilDateTime c = decodeDateTime(dateTime);
    std::tm local{};
    local.tm_year = c.year - 1900;
    local.tm_mon = c.month - 1;
    local.tm_mday = c.day;
    local.tm_hour = c.hour;
    local.tm_min = c.minute;
    local.tm_sec = c.second;
    local.tm_isdst = -1;  // let the time zone decide
    local.tm_wday = -1;   // mktime sets it on success; -1 is also a valid moment
    std::time_t moment = std::mktime(&local);
    if (local.tm_wday == -1)
        throw TsException("Cannot convert the local time to a moment: " + std::to_string(dateTime));
    return moment;
}

}  // namespace ts
