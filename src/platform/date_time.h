#pragma once
// The date-time of the file formats: a double counting days since 30 December 1899, the time
// of day as the fraction, in local time. Before that day the whole part counts backwards
// while the fraction still counts forward from midnight (-1.25 is 29 December 1899, 6:00).
#include <ctime>

namespace ts {

struct CivilDateTime {
    int year = 1899;
    int month = 12;  // 1..12
    int day = 30;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

double encodeDateTime(const CivilDateTime& civil);
// Rounds to the millisecond. Values that are not finite or lie outside the years 1 to 9999
// raise TsException.
CivilDateTime decodeDateTime(double dateTime);

// The current local date and time, to the millisecond.
double dateTimeNow();
// A moment as local date and time, and back (local time, as the system's time zone says).
double dateTimeFromTimeT(std::time_t moment, int millisecond = 0);
std::time_t timeTFromDateTime(double dateTime);

}  // namespace ts
