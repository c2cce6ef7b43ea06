#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "platform/date_time.h"
#include "platform/exception.h"

namespace ts {
namespace {

// Runs the test body in a fixed time zone, restoring the previous one after.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old, hadOld_ = true;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard() {
        if (hadOld_) ::setenv("TZ", old_.c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string old_;
    bool hadOld_ = false;
};

TEST(DateTimeTest, DaysCountFrom30December1899WithTheTimeAsFraction) {
    EXPECT_EQ(encodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
    EXPECT_EQ(encodeDateTime({1900, 1, 1, 0, 0, 0, 0}), 2.0);
    EXPECT_EQ(encodeDateTime({2000, 1, 1, 12, 0, 0, 0}), 36526.5);
    EXPECT_EQ(encodeDateTime({1899, 12, 29, 6, 0, 0, 0}), -1.25);  // whole part backwards only

    CivilDateTime c = decodeDateTime(-1.25);
    EXPECT_EQ(c.year, 1899);
    EXPECT_EQ(c.day, 29);
    EXPECT_EQ(c.hour, 6);
    c = decodeDateTime(encodeDateTime({2024, 2, 29, 23, 59, 58, 999}));
    EXPECT_EQ(c.year, 2024);
    EXPECT_EQ(c.month, 2);
    EXPECT_EQ(c.day, 29);
    EXPECT_EQ(c.hour, 23);
    EXPECT_EQ(c.minute, 59);
    EXPECT_EQ(c.second, 58);
    EXPECT_EQ(c.millisecond, 999);
}

TEST(DateTimeTest, ATimeThatRoundsToMidnightIsTheNextDay) {
    CivilDateTime c = decodeDateTime(45000.0 + (86399999.7 / 86400000.0));
    EXPECT_EQ(c.hour, 0);
    EXPECT_EQ(c.millisecond, 0);
    EXPECT_EQ(encodeDateTime(c), 45001.0);
}

TEST(DateTimeTest, ValuesNoDateCanHaveAreRefused) {
    EXPECT_THROW(decodeDateTime(std::numeric_limits<double>::quiet_NaN()), TsException);
    EXPECT_THROW(decodeDateTime(std::numeric_limits<double>::infinity()), TsException);
    EXPECT_THROW(decodeDateTime(1e300), TsException);
    EXPECT_THROW(encodeDateTime({2023, 2, 29, 0, 0, 0, 0}), TsException);
    EXPECT_THROW(timeTFromDateTime(-1e9), TsException);
}

TEST(DateTimeTest, MomentsConvertInLocalTimeBothWays) {
    ZoneGuard zone("Europe/Berlin");
    // 2023-07-01 12:00:00 UTC is 14:00 summer time in Berlin.
    std::time_t summer = 1688212800;
    double local = dateTimeFromTimeT(summer);
    EXPECT_EQ(local, encodeDateTime({2023, 7, 1, 14, 0, 0, 0}));
    EXPECT_EQ(timeTFromDateTime(local), summer);
    // 2023-01-01 12:00:00 UTC is 13:00 winter time.
    EXPECT_EQ(dateTimeFromTimeT(1672574400, 500), encodeDateTime({2023, 1, 1, 13, 0, 0, 500}));
    EXPECT_EQ(timeTFromDateTime(encodeDateTime({2023, 1, 1, 13, 0, 0, 0})), 1672574400);
}

TEST(DateTimeTest, NowIsTheCurrentLocalTime) {
    std::time_t before = std::time(nullptr);
    double now = dateTimeNow();
    std::time_t after = std::time(nullptr);
    std::time_t back = timeTFromDateTime(now);
    EXPECT_GE(back, before);
    EXPECT_LE(back, after);
}

}  // namespace
}  // namespace ts
