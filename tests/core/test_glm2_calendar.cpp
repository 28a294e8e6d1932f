// The fiscal calendar of prefix records: date rules, generated periods and years, the current-
// year and four-year checks with their exact messages, and the texts that name a fiscal field.
#include "test_glm2_support.h"

#include "converters/gl/fiscal_calendar.h"

#include <gmock/gmock.h>

#include <utility>
#include <vector>

namespace dz::gl::testing {

using namespace convert;
namespace {

// ---- Date rules ---------------------------------------------------------------------------------

TEST(Glm2DateRules, LeapYearsAndMonthEnds) {
    EXPECT_TRUE(IsLeapYear(2024));
    EXPECT_FALSE(IsLeapYear(2025));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_TRUE(IsLeapYear(2000));

    EXPECT_TRUE(IsLastDayOfMonth(zqDate(2, 29, 2024)));
    EXPECT_FALSE(IsLastDayOfMonth(zqDate(2, 28, 2024)));
    EXPECT_TRUE(IsLastDayOfMonth(zqDate(2, 28, 2025)));
    EXPECT_TRUE(IsLastDayOfMonth(zqDate(4, 30, 2025)));
    EXPECT_FALSE(IsLastDayOfMonth(zqDate(4, 29, 2025)));
    EXPECT_TRUE(IsLastDayOfMonth(zqDate(12, 31, 2025)));
    EXPECT_FALSE(IsLastDayOfMonth(zqDate(12, 30, 2025)));
    EXPECT_TRUE(IsLastDayOfMonth(x_date_type{}));  // an empty date counts as a month end
}

TEST(Glm2DateRules, MonthEndDayTakesFebruaryFromTheRightYear) {
    EXPECT_EQ(MonthEndDay(false, 2, 6, 15, 2025), 15);
    EXPECT_EQ(MonthEndDay(true, 4, 6, 30, 2025), 30);
    EXPECT_EQ(MonthEndDay(true, 7, 6, 30, 2025), 31);
    // A January fiscal end: its February lies in the year before.
    EXPECT_EQ(MonthEndDay(true, 2, 1, 31, 2025), 29);
    EXPECT_EQ(MonthEndDay(true, 2, 1, 31, 2024), 28);
    EXPECT_EQ(MonthEndDay(true, 2, 12, 31, 2024), 29);
    EXPECT_EQ(MonthEndDay(true, 13, 12, 31, 2024), 31);  // no such month: the source day
}

TEST(Glm2DateRules, AdjustFebruaryDay) {
    x_date_type d = zqDate(2, 28, 2024);
    AdjustFebruaryDay(d, true);
    EXPECT_EQ(d, zqDate(2, 29, 2024));
    d = zqDate(2, 28, 2024);
    AdjustFebruaryDay(d, false);
    EXPECT_EQ(d, zqDate(2, 28, 2024));
    d = zqDate(2, 29, 2025);
    AdjustFebruaryDay(d, false);
    EXPECT_EQ(d, zqDate(2, 28, 2025));
    d = zqDate(3, 28, 2024);
    AdjustFebruaryDay(d, true);
    EXPECT_EQ(d, zqDate(3, 28, 2024));
}

std::vector<std::string> Texts(const std::array<x_date_type, 12>& dates) {
    std::vector<std::string> out;
    for (const auto& d : dates) out.push_back(CalendarDateText(d));
    return out;
}

TEST(Glm2DateRules, FillPeriodDates) {
    EXPECT_EQ(Texts(FillPeriodDates(zqDate(12, 31, 2024))),
              (std::vector<std::string>{"1/31/2024", "2/29/2024", "3/31/2024", "4/30/2024", "5/31/2024", "6/30/2024",
                                        "7/31/2024", "8/31/2024", "9/30/2024", "10/31/2024", "11/30/2024",
                                        "12/31/2024"}));
    EXPECT_EQ(Texts(FillPeriodDates(zqDate(1, 31, 2025))),
              (std::vector<std::string>{"2/29/2024", "3/31/2024", "4/30/2024", "5/31/2024", "6/30/2024", "7/31/2024",
                                        "8/31/2024", "9/30/2024", "10/31/2024", "11/30/2024", "12/31/2024",
                                        "1/31/2025"}));
    EXPECT_EQ(Texts(FillPeriodDates(zqDate(6, 30, 2025))),
              (std::vector<std::string>{"7/31/2024", "8/31/2024", "9/30/2024", "10/31/2024", "11/30/2024",
                                        "12/31/2024", "1/31/2025", "2/28/2025", "3/31/2025", "4/30/2025", "5/31/2025",
                                        "6/30/2025"}));
    // Not a month end: every period keeps the day.
    EXPECT_EQ(Texts(FillPeriodDates(zqDate(6, 28, 2025)))[7], "2/28/2025");
    EXPECT_EQ(Texts(FillPeriodDates(zqDate(6, 28, 2025)))[0], "7/28/2024");
    // A day February does not have ends February on its last day, and March takes it again.
    const auto thirtieth = Texts(FillPeriodDates(zqDate(1, 30, 2025)));
    EXPECT_EQ(thirtieth[0], "2/29/2024");
    EXPECT_EQ(thirtieth[1], "3/30/2024");
    EXPECT_EQ(thirtieth[11], "1/30/2025");
}

TEST(Glm2DateRules, PeriodsEndOnMonthEndsLooksAtTheFirstSixNonFebruaryPeriods) {
    CalendarDates c{};
    const auto fill = [&](const std::array<x_date_type, 12>& dates) {
        for (int p = 1; p <= 12; ++p) PeriodOf(c, kYearCurrent, p) = dates[p - 1];
    };
    fill(FillPeriodDates(zqDate(12, 31, 2025)));
    EXPECT_TRUE(PeriodsEndOnMonthEnds(c));
    PeriodOf(c, kYearCurrent, 2) = zqDate(2, 20, 2025);  // February does not count
    EXPECT_TRUE(PeriodsEndOnMonthEnds(c));
    PeriodOf(c, kYearCurrent, 7) = zqDate(7, 20, 2025);  // nor does the seventh period
    EXPECT_TRUE(PeriodsEndOnMonthEnds(c));
    PeriodOf(c, kYearCurrent, 6) = zqDate(6, 29, 2025);
    EXPECT_FALSE(PeriodsEndOnMonthEnds(c));
}

TEST(Glm2DateRules, CalendarDateText) {
    EXPECT_EQ(CalendarDateText(zqDate(7, 1, 2022)), "7/01/2022");
    EXPECT_EQ(CalendarDateText(zqDate(12, 31, 2022)), "12/31/2022");
    EXPECT_EQ(CalendarDateText(zqDate(7, 31, 2022), false), "7/31");
}

// ---- The checks on a prefix A record in the buffer ---------------------------------------------

class Glm2Calendar : public Glm2Test {
protected:
    void Stage(const x_date_type& fiscalEnd, const x_date_type& periodEnd, double code = 0, bool thirteen = false) {
        xio_init_record(glm, kRecPrefixA);
        Text(kRecPrefixA, "PAPRFX", "01");
        Date(kRecPrefixA, "PAFDATE", fiscalEnd);
        Date(kRecPrefixA, "PAPDATE", periodEnd);
        Num(kRecPrefixA, "PAPCODE", code);
        Flag(kRecPrefixA, "PAU13PA", thirteen);
    }
    // Period `p` (1 to 13) of year slot `year`.
    uint16_t Period(int year, int p) { return static_cast<uint16_t>(Fld(kRecPrefixA, "PAP2Y1") + year * 13 + p - 1); }
    void Current(const std::vector<x_date_type>& dates) {
        for (std::size_t i = 0; i < dates.size(); ++i) PutDateField(Period(kYearCurrent, static_cast<int>(i) + 1), dates[i]);
    }
    std::string At(int year, int p) { return CalendarDateText(GetDate(glm, Period(year, p))); }

    bool Check(bool converting = true) {
        reason.clear();
        messages.clear();
        return CheckPeriodCalendar(converter, glm, Fld(kRecPrefixA, "PAP2Y1"), Fld(kRecPrefixA, "PAPDATE"),
                                   Fld(kRecPrefixA, "PAU13PA"), Fld(kRecPrefixA, "PAFBD2Y"), reason, messages,
                                   converting);
    }

    std::vector<x_date_type> MonthEnds(unsigned year) {
        std::vector<x_date_type> out;
        for (const auto& d : FillPeriodDates(zqDate(12, 31, year))) out.push_back(d);
        return out;
    }

    xvGLM converter;
    std::string reason;
    convert::MessageList messages;
};

TEST_F(Glm2Calendar, OnlyTheFiscalEndingDateGivesAllFourYearsAndTheStart) {
    Stage(zqDate(6, 30, 2025), zqDate(9, 30, 2024));
    ASSERT_TRUE(Check()) << reason;
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(At(kYearCurrent, 1), "7/31/2024");
    EXPECT_EQ(At(kYearCurrent, 8), "2/28/2025");
    EXPECT_EQ(At(kYearCurrent, 12), "6/30/2025");
    EXPECT_EQ(At(kYearCurrent, 13), "");
    EXPECT_EQ(NumOf(kRecPrefixA, "PAPCODE"), 3);
    // The other years shifted; a month-end calendar's February 28 becomes 29 in a leap year.
    EXPECT_EQ(At(kYearTwoAgo, 1), "7/31/2022");
    EXPECT_EQ(At(kYearTwoAgo, 8), "2/28/2023");
    EXPECT_EQ(At(kYearLast, 8), "2/29/2024");
    EXPECT_EQ(At(kYearLast, 12), "6/30/2024");
    EXPECT_EQ(At(kYearNext, 8), "2/28/2026");
    EXPECT_EQ(At(kYearNext, 12), "6/30/2026");
    for (int y : {kYearTwoAgo, kYearLast, kYearNext}) EXPECT_EQ(At(y, 13), "") << y;
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixA, "PAFBD2Y")), "7/01/2022");
}

TEST_F(Glm2Calendar, FebruaryOfACalendarNotOnMonthEndsStays28) {
    Stage(zqDate(6, 28, 2025), zqDate(6, 28, 2025));
    ASSERT_TRUE(Check()) << reason;
    EXPECT_EQ(At(kYearCurrent, 8), "2/28/2025");
    EXPECT_EQ(At(kYearLast, 8), "2/28/2024");
    EXPECT_EQ(At(kYearLast, 1), "7/28/2023");
    EXPECT_EQ(NumOf(kRecPrefixA, "PAPCODE"), 12);
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixA, "PAFBD2Y")), "6/29/2022");
}

TEST_F(Glm2Calendar, CurrentFebruary29Becomes28InYearsThatAreNotLeap) {
    Stage(zqDate(1, 31, 2025), zqDate(2, 29, 2024));
    ASSERT_TRUE(Check()) << reason;
    EXPECT_EQ(At(kYearCurrent, 1), "2/29/2024");
    EXPECT_EQ(At(kYearNext, 1), "2/28/2025");
    EXPECT_EQ(At(kYearLast, 1), "2/28/2023");
    EXPECT_EQ(At(kYearTwoAgo, 1), "2/28/2022");
    EXPECT_EQ(NumOf(kRecPrefixA, "PAPCODE"), 1);
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixA, "PAFBD2Y")), "2/01/2022");
}

TEST_F(Glm2Calendar, ThirteenthPeriodGivenTurnsThirteenPeriodsOn) {
    Stage(zqDate(12, 31, 2025), zqDate(3, 25, 2025), 0, false);
    Current({zqDate(1, 28, 2025), zqDate(2, 25, 2025), zqDate(3, 25, 2025), zqDate(4, 22, 2025), zqDate(5, 20, 2025),
             zqDate(6, 17, 2025), zqDate(7, 15, 2025), zqDate(8, 12, 2025), zqDate(9, 9, 2025), zqDate(10, 7, 2025),
             zqDate(11, 4, 2025), zqDate(12, 2, 2025), zqDate(12, 31, 2025)});
    ASSERT_TRUE(Check()) << reason;
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(GetFlag(glm, kRecPrefixA, "PAU13PA"), 1);
    EXPECT_EQ(NumOf(kRecPrefixA, "PAPCODE"), 3);
    EXPECT_EQ(At(kYearNext, 13), "12/31/2026");
    EXPECT_EQ(At(kYearTwoAgo, 13), "12/31/2023");
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixA, "PAFBD2Y")), "1/01/2023");
}

TEST_F(Glm2Calendar, PeriodCodeIsCorrectedWithAMessageUnlessItWasZero) {
    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025), 4);
    ASSERT_TRUE(Check(true)) << reason;
    EXPECT_EQ(messages, (convert::MessageList{"Period Code has changed from 4 to 5(158)"}));
    EXPECT_EQ(NumOf(kRecPrefixA, "PAPCODE"), 5);

    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025), 4);
    ASSERT_TRUE(Check(false)) << reason;
    EXPECT_EQ(messages, (convert::MessageList{"Period Code will change from 4 to 5(159)"}));

    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025), 5);
    ASSERT_TRUE(Check()) << reason;
    EXPECT_TRUE(messages.empty());
}

TEST_F(Glm2Calendar, LongPeriodIsANoteAndTheRecordPasses) {
    Stage(zqDate(12, 31, 2025), zqDate(3, 18, 2025));
    auto dates = MonthEnds(2025);
    dates[1] = zqDate(3, 18, 2025);  // 46 days after January 31
    Current(dates);
    ASSERT_TRUE(Check()) << reason;
    EXPECT_EQ(messages, (convert::MessageList{"A calendar period spans more than 45 days (1/31 to 3/18)(161)"}));
    EXPECT_EQ(NumOf(kRecPrefixA, "PAPCODE"), 2);
}

TEST_F(Glm2Calendar, FortyFiveDaysIsNoNote) {
    Stage(zqDate(12, 31, 2025), zqDate(3, 17, 2025));
    auto dates = MonthEnds(2025);
    dates[1] = zqDate(3, 17, 2025);
    Current(dates);
    ASSERT_TRUE(Check()) << reason;
    EXPECT_TRUE(messages.empty());
}

TEST_F(Glm2Calendar, CurrentYearRejections) {
    // Partly given.
    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025));
    auto dates = MonthEnds(2025);
    dates.pop_back();
    Current(dates);
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Calendar is only partially filled(155)");

    // Only the 13th period.
    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025));
    PutDateField(Period(kYearCurrent, 13), zqDate(12, 31, 2025));
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Calendar is only partially filled(155)");

    // Not ending on the fiscal ending date.
    Stage(zqDate(6, 30, 2025), zqDate(5, 31, 2025));
    Current(MonthEnds(2025));
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Fiscal ending date of 6/30/2025 does not match calendar ending date of 12/31/2025(156)");

    // Period ending date not a period end.
    Stage(zqDate(12, 31, 2025), zqDate(6, 15, 2025));
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Period ending date of 6/15/2025 is not found in calendar(157)");

    // The same day twice.
    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025));
    dates = MonthEnds(2025);
    dates[2] = dates[1];
    Current(dates);
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "The calendar has a duplicate date of 2/28/2025(160)");

    // More than a year: twelve periods of 40 days.
    Stage(zqDate(4, 16, 2026), zqDate(1, 31, 2025));
    std::vector<x_date_type> long_;
    x_date_type d = zqDate(1, 31, 2025);
    for (int i = 0; i < 12; ++i) {
        long_.push_back(d);
        suite::xd_offset_date(d, 0, 40);
    }
    Current(long_);
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "The calendar spans more than one year(162)");

    // At the limit: 366 days from the first period end to the last is more than a year; 365 (in
    // a leap year, so that the two ends differ) is not.
    for (const auto& [first, span] : {std::pair{zqDate(1, 1, 2025), 366}, std::pair{zqDate(1, 1, 2024), 365}}) {
        std::vector<x_date_type> ends;
        x_date_type at = first;
        for (int i = 0; i < 11; ++i) {
            ends.push_back(at);
            suite::xd_offset_date(at, 0, 33);
        }
        x_date_type last = first;
        suite::xd_offset_date(last, 0, span);
        ends.push_back(last);
        Stage(last, first);
        Current(ends);
        Check();
        if (span == 366) EXPECT_EQ(reason, "The calendar spans more than one year(162)");
        else EXPECT_THAT(reason, ::testing::Not(::testing::HasSubstr("(162)")));
    }
}

TEST_F(Glm2Calendar, FourYearRejections) {
    // 13 periods asked for but not given.
    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025), 0, true);
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason,
              "The dates for all 13 current year periods are required when Using 13 periods is YES in the text "
              "file(169)");

    // A 13th period in another year of a 12-period calendar.
    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025));
    PutDateField(Period(kYearTwoAgo, 13), zqDate(12, 31, 2023));
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "The field Period 13, 2 yrs ago cannot have value '12/31/2023' because 13 periods are not being "
                      "used(170)");

    // Last year given in part.
    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025));
    PutDateField(Period(kYearLast, 4), zqDate(4, 30, 2024));
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Calendar is only partially filled(155)");

    // A calendar start after the first period two years ago.
    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025));
    Date(kRecPrefixA, "PAFBD2Y", zqDate(2, 15, 2023));
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason, "Fiscal 2 yrs ago with ' 2/15/2023' is not prior to Period 1, 2 yrs ago with ' 1/31/2023'(171)");

    // Other years given, one out of order.
    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025));
    for (int y : {kYearTwoAgo, kYearLast, kYearNext}) {
        auto dates = MonthEnds(2025 + y - kYearCurrent);
        for (int p = 1; p <= 12; ++p) PutDateField(Period(y, p), dates[p - 1]);
    }
    PutDateField(Period(kYearNext, 3), zqDate(2, 1, 2026));
    EXPECT_FALSE(Check());
    EXPECT_EQ(reason,
              "Period 2, future with ' 2/28/2026' is not prior to Period 3, future with ' 2/01/2026'(171)");
}

TEST_F(Glm2Calendar, GivenYearsAreKeptAsGiven) {
    Stage(zqDate(12, 31, 2025), zqDate(5, 31, 2025));
    Date(kRecPrefixA, "PAFBD2Y", zqDate(1, 1, 2023));
    for (int y : {kYearTwoAgo, kYearLast, kYearNext}) {
        auto dates = MonthEnds(2025 + y - kYearCurrent);
        dates[1].day = 27;  // not what a shift would give
        for (int p = 1; p <= 12; ++p) PutDateField(Period(y, p), dates[p - 1]);
    }
    ASSERT_TRUE(Check()) << reason;
    EXPECT_EQ(At(kYearLast, 2), "2/27/2024");
    EXPECT_EQ(At(kYearCurrent, 2), "2/28/2025");
    EXPECT_EQ(CalendarDateText(DateOf(kRecPrefixA, "PAFBD2Y")), "1/01/2023");
}

// ---- Texts for a fiscal field with a value --------------------------------------------------------

TEST_F(Glm2Calendar, DescribeTheFirstFieldWithAValue) {
    xio_init_record(glm, kRecPrefixA);
    const uint16_t p1 = Fld(kRecPrefixA, "PAPAR1"), p50 = Fld(kRecPrefixA, "PAPAR50");
    bool found = true;
    std::string text = "untouched";
    DescribePartnerValue(glm, p1, p50, found, text);
    EXPECT_FALSE(found);
    EXPECT_EQ(text, "untouched");

    PutText(glm, static_cast<uint16_t>(p1 + 8), "400010");  // partner 3's base account
    DescribePartnerValue(glm, p1, p50, found, text);
    EXPECT_TRUE(found);
    EXPECT_EQ(text, "Partner 3 Ret Earn with 4000-10");
    PutNumber(glm, static_cast<uint16_t>(p1 + 4), 25000000);  // partner 2's percentage
    DescribePartnerValue(glm, p1, p50, found, text);
    EXPECT_EQ(text, "Partner 2 percent with 25.000000");
    PutNumber(glm, static_cast<uint16_t>(p1 + 3), 7);  // partner 2's number
    DescribePartnerValue(glm, p1, p50, found, text);
    EXPECT_EQ(text, "Partner 2 with 7");

    const uint16_t d1 = Fld(kRecPrefixA, "PAP2Y1"), d52 = Fld(kRecPrefixA, "PAP1F13");
    DescribePeriodDateValue(glm, d1, d52, found, text);
    EXPECT_FALSE(found);
    PutDateField(Period(kYearNext, 13), zqDate(12, 31, 2026));
    DescribePeriodDateValue(glm, d1, d52, found, text);
    EXPECT_TRUE(found);
    EXPECT_EQ(text, "Period 13, future with 12/31/2026");
    PutDateField(Period(kYearLast, 5), zqDate(5, 31, 2024));
    DescribePeriodDateValue(glm, d1, d52, found, text);
    EXPECT_EQ(text, "Period 5, 1 yr ago with  5/31/2024");

    const uint16_t c1 = Fld(kRecPrefixA, "PAPCL1"), c26 = Fld(kRecPrefixA, "PAPCL26");
    DescribeClosedPeriodValue(glm, c1, c26, found, text);
    EXPECT_FALSE(found);
    PutFlag(glm, static_cast<uint16_t>(c1 + 25), 1);
    DescribeClosedPeriodValue(glm, c1, c26, found, text);
    EXPECT_TRUE(found);
    EXPECT_EQ(text, "Period 26 closed with TRUE");
}

}  // namespace
}  // namespace dz::gl::testing
