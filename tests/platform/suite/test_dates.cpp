#include "platform/suite/xd.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace dz::suite {
namespace {

TEST(Dates, CompareInWholeDaysAcrossLeapYears) {
    const struct {
        x_date_type a, b;
        long days;
    } cases[] = {
        {zqDate(3, 1, 2024), zqDate(2, 28, 2024), 2},    // 2024 is a leap year
        {zqDate(3, 1, 2023), zqDate(2, 28, 2023), 1},
        {zqDate(3, 1, 2000), zqDate(2, 28, 2000), 2},    // divisible by 400
        {zqDate(3, 1, 1900), zqDate(2, 28, 1900), 1},    // divisible by 100 only
        {zqDate(3, 1, 2100), zqDate(2, 28, 2100), 1},
        {zqDate(1, 1, 2025), zqDate(1, 1, 2024), 366},
        {zqDate(1, 1, 2024), zqDate(1, 1, 2023), 365},
        {zqDate(6, 30, 2025), zqDate(6, 29, 2024), 366},
        {zqDate(6, 29, 2024), zqDate(6, 30, 2025), -366},
        {zqDate(12, 31, 2024), zqDate(12, 31, 2024), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(xd_compare_dates(c.a, c.b), c.days)
            << xd_alpha_date(c.a) << " - " << xd_alpha_date(c.b);
    }
}

TEST(Dates, BlankDateComesBeforeEveryRealDate) {
    const x_date_type blank{};
    EXPECT_LT(xd_compare_dates(blank, zqDate(1, 1, 1)), 0);
    EXPECT_LT(xd_compare_dates(blank, zqDate(1, 1, 1900)), 0);
    EXPECT_GT(xd_compare_dates(zqDate(1, 1, 1900), blank), 0);
    EXPECT_EQ(xd_compare_dates(blank, blank), 0);
    // A blank date with leftover day and year is still blank.
    EXPECT_EQ(xd_compare_dates(zqDate(0, 15, 2024), blank), 0);
}

TEST(Dates, OffsetClampsToTheLastDayOfTheTargetMonth) {
    const struct {
        x_date_type from;
        int months, days;
        x_date_type to;
    } cases[] = {
        {zqDate(1, 31, 2024), 1, 0, zqDate(2, 29, 2024)},
        {zqDate(1, 31, 2023), 1, 0, zqDate(2, 28, 2023)},
        {zqDate(3, 31, 2024), -1, 0, zqDate(2, 29, 2024)},
        {zqDate(5, 31, 2024), 1, 0, zqDate(6, 30, 2024)},
        {zqDate(12, 15, 2024), 1, 0, zqDate(1, 15, 2025)},
        {zqDate(1, 15, 2025), -12, 0, zqDate(1, 15, 2024)},
        {zqDate(2, 29, 2024), 12, 0, zqDate(2, 28, 2025)},
        {zqDate(1, 10, 2024), -13, 0, zqDate(12, 10, 2022)},
        {zqDate(2, 28, 2024), 0, 1, zqDate(2, 29, 2024)},
        {zqDate(12, 31, 2024), 0, 1, zqDate(1, 1, 2025)},
        {zqDate(3, 1, 2024), 0, -1, zqDate(2, 29, 2024)},
        {zqDate(1, 31, 2024), 1, 1, zqDate(3, 1, 2024)},  // months first, then days
        {zqDate(1, 1, 2024), 0, 366, zqDate(1, 1, 2025)},
    };
    for (const auto& c : cases) {
        x_date_type d = c.from;
        xd_offset_date(d, c.months, c.days);
        EXPECT_EQ(d, c.to) << xd_alpha_date(c.from) << " + " << c.months << "m " << c.days << "d gave "
                           << xd_alpha_date(d);
    }
    x_date_type blank{};
    xd_offset_date(blank, 1, 1);
    EXPECT_TRUE(blank.blank());
}

TEST(Dates, MonthLength) {
    EXPECT_EQ(xd_month_length(zqDate(2, 1, 2024)), 29);
    EXPECT_EQ(xd_month_length(zqDate(2, 1, 2023)), 28);
    EXPECT_EQ(xd_month_length(zqDate(2, 1, 2000)), 29);
    EXPECT_EQ(xd_month_length(zqDate(2, 1, 2100)), 28);
    EXPECT_EQ(xd_month_length(zqDate(4, 1, 2024)), 30);
    EXPECT_EQ(xd_month_length(zqDate(12, 1, 2024)), 31);
    EXPECT_EQ(xd_month_length(x_date_type{}), 0);
    EXPECT_EQ(xd_month_length(zqDate(13, 1, 2024)), 0);
}

TEST(Dates, AlphaDateAndTime) {
    EXPECT_EQ(xd_alpha_date(zqDate(1, 5, 2024)), " 1/05/2024");
    EXPECT_EQ(xd_alpha_date(zqDate(12, 31, 1999)), "12/31/1999");
    EXPECT_EQ(xd_alpha_date(x_date_type{}), "");
    EXPECT_EQ(xd_alpha_time(x_time_type{9, 5, 7}), " 9:05:07");
    EXPECT_EQ(xd_alpha_time(x_time_type{23, 59, 0}), "23:59:00");
}

TEST(Dates, ClockCanBeFixedAndReleased) {
    xd_set_clock(xd_fixed_clock(LocalDateTime{zqDate(2, 29, 2000), x_time_type{13, 7, 9}}));
    EXPECT_EQ(xd_get_date(), zqDate(2, 29, 2000));
    EXPECT_EQ(xd_get_time(), (x_time_type{13, 7, 9}));
    xd_set_clock(nullptr);
    x_date_type today = xd_get_date();
    EXPECT_GE(today.year, 2024);
    EXPECT_GE(today.month, 1);
    EXPECT_LE(today.month, 12);
    EXPECT_NE(today, zqDate(2, 29, 2000));
}

TEST(Dates, EnvironmentFixesTheClockOfARun) {
    xd_set_clock(nullptr);
    ::setenv("DODEDOZ_NOW", "2024-02-29 23:59:58", 1);
    EXPECT_EQ(xd_get_date(), zqDate(2, 29, 2024));
    EXPECT_EQ(xd_get_time(), (x_time_type{23, 59, 58}));
    // An injected clock wins over the environment.
    xd_set_clock(xd_fixed_clock(LocalDateTime{zqDate(1, 2, 2003), x_time_type{4, 5, 6}}));
    EXPECT_EQ(xd_get_date(), zqDate(1, 2, 2003));
    xd_set_clock(nullptr);
    for (const char* bad : {"2023-02-29 10:00:00", "2024-13-01 10:00:00", "2024-01-01", "2024-01-01 10:00:00x"}) {
        ::setenv("DODEDOZ_NOW", bad, 1);
        EXPECT_NE(xd_get_date(), zqDate(1, 1, 2024)) << bad;
        EXPECT_GE(xd_get_date().year, 2025) << bad;  // the system clock
    }
    ::unsetenv("DODEDOZ_NOW");
}

}  // namespace
}  // namespace dz::suite
