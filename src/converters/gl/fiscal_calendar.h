// The fiscal calendar of a GL prefix record: four years of 13 period ending dates, the period
// ending date, period code and fiscal ending date, the 13-period setting and the calendar start
// date ("fiscal 2 yrs ago"). The checks complete a calendar the text file gives only in part
// (generated period dates, the other three years, the start date), correct the period code and
// reject calendars that are partial, out of order, too long or do not end on the fiscal ending
// date. All work is on the prefix record in the GL master buffer, addressed by field numbers:
//
//   D .. D+12    periods 1 to 13, two years ago      P    period ending date
//   D+13.. D+25  periods 1 to 13, last year          P+1  period code
//   D+26.. D+38  periods 1 to 13, current year       P+2  fiscal ending date
//   D+39.. D+51  periods 1 to 13, next year
#pragma once

#include "convert/reports.h"
#include "platform/datafile/x_value.h"

#include <array>
#include <cstdint>
#include <string>

namespace dz::gl {

inline constexpr int kCalendarYears = 4;
inline constexpr int kPeriodsPerYear = 13;
inline constexpr int kCalendarDates = kCalendarYears * kPeriodsPerYear;  // 52
// Year slots of the calendar, in field order.
inline constexpr int kYearTwoAgo = 0;
inline constexpr int kYearLast = 1;
inline constexpr int kYearCurrent = 2;
inline constexpr int kYearNext = 3;

// The 52 period dates in field order; an empty date has month 0.
using CalendarDates = std::array<x_date_type, kCalendarDates>;
inline x_date_type& PeriodOf(CalendarDates& c, int year, int period) { return c[year * kPeriodsPerYear + period - 1]; }
inline const x_date_type& PeriodOf(const CalendarDates& c, int year, int period) {
    return c[year * kPeriodsPerYear + period - 1];
}

// ---- Date rules ---------------------------------------------------------------------------
bool IsLeapYear(unsigned year);
// True on a month's last day; a month outside 1 to 12 (an empty date) counts as true.
bool IsLastDayOfMonth(const x_date_type& date);
// The day a generated period ending in `month` takes: the source day, or with `monthEnd` the
// month's last day (February's leap test made on the year the February falls in when the
// periods run up to the source date: source year less one for a January source).
uint16_t MonthEndDay(bool monthEnd, unsigned month, unsigned sourceMonth, unsigned sourceDay, unsigned sourceYear);
// February only: in a leap year day 28 becomes 29 on a month-end calendar; otherwise day 29
// becomes 28.
void AdjustFebruaryDay(x_date_type& date, bool monthEndCalendar);
// The period ending date one month after `previous`, its day taken from `source` (the date the
// periods are generated from). A day the month does not have becomes the month's last day.
x_date_type NextPeriodEnd(const x_date_type& source, const x_date_type& previous);
// Twelve period ending dates of the year that ends on `fiscalEnd`, periods 1 to 12.
std::array<x_date_type, 12> FillPeriodDates(const x_date_type& fiscalEnd);
// Copies the current year's 13 (or 12) periods into year slot `targetYear`, `offset` years away,
// each February day adjusted.
void ShiftCalendarYear(CalendarDates& calendar, int targetYear, int offset, bool thirteen, bool monthEndCalendar);
// True when each of the first six current periods not in February ends on its month's last day.
bool PeriodsEndOnMonthEnds(const CalendarDates& calendar);

// A date as messages show it: xd_alpha_date with its leading blank removed; `withYear` false
// leaves the "/yyyy" off.
std::string CalendarDateText(const x_date_type& date, bool withYear = true);

// ---- Checks on the record in the buffer ----------------------------------------------------
class xvGLM;

// The current-year checks, then the four-year checks of `converter.CheckCalendar`. True
// accepts; false rejects with `reason` set. Corrections are written into the buffer.
bool CheckPeriodCalendar(xvGLM& converter, uint16_t glm, uint16_t firstPeriodField, uint16_t periodEndField,
                         uint16_t thirteenField, uint16_t calendarStartField, std::string& reason,
                         convert::MessageList& messages, bool converting);

// Texts naming the first fiscal field that holds a value, for 12107 (at most 80 characters).
// `found` tells whether any field between `first` and `last` held one; `text` is left alone
// when none did.
void DescribePartnerValue(uint16_t glm, uint16_t first, uint16_t last, bool& found, std::string& text);
void DescribePeriodDateValue(uint16_t glm, uint16_t first, uint16_t last, bool& found, std::string& text);
void DescribeClosedPeriodValue(uint16_t glm, uint16_t first, uint16_t last, bool& found, std::string& text);

// Reads and writes the 52 period dates starting at field `first`.
CalendarDates ReadCalendar(uint16_t glm, uint16_t first);
void WriteCalendar(uint16_t glm, uint16_t first, const CalendarDates& calendar);

}  // namespace dz::gl
