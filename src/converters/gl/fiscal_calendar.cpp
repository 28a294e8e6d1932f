#include "converters/gl/fiscal_calendar.h"

#include "converters/gl/glm_fields.h"
#include "converters/gl/xvglm.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"
#include "platform/suite/xk.h"

#include <cstdio>

namespace dz::gl {

using namespace convert;

namespace {

using suite::xd_alpha_date;
using suite::xd_compare_dates;

constexpr std::size_t kDescribeMax = 80;

int DaysIn(unsigned month, unsigned year) {
    x_date_type d;
    d.month = static_cast<uint16_t>(month);
    d.day = 1;
    d.year = static_cast<uint16_t>(year);
    return suite::xd_month_length(d);
}

bool SameMonthDay(const x_date_type& a, const x_date_type& b) { return a.month == b.month && a.day == b.day; }

std::string Limit(std::string text) {
    if (text.size() > kDescribeMax) text.resize(kDescribeMax);
    return text;
}

template <typename... A>
std::string Printf(const char* format, A... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

}  // namespace

// ---- Date rules -------------------------------------------------------------------------------

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool IsLastDayOfMonth(const x_date_type& date) {
    switch (date.month) {
    case 1: case 3: case 5: case 7: case 8: case 10: case 12:
        return date.day == 31;
    case 4: case 6: case 9: case 11:
        return date.day == 30;
    case 2:
        return date.day == (IsLeapYear(date.year) ? 29 : 28);
    default:
        return true;
    }
}

uint16_t MonthEndDay(bool monthEnd, unsigned month, unsigned sourceMonth, unsigned sourceDay, unsigned sourceYear) {
    if (!monthEnd || month < 1 || month > 12) return static_cast<uint16_t>(sourceDay);
    switch (month) {
    case 4: case 6: case 9: case 11:
        return 30;
    case 2:
        return IsLeapYear(sourceMonth == 1 ? sourceYear - 1 : sourceYear) ? 29 : 28;
    default:
        return 31;
    }
}

void AdjustFebruaryDay(x_date_type& date, bool monthEndCalendar) {
    if (date.month != 2) return;
    if (IsLeapYear(date.year)) {
        if (date.day == 28 && monthEndCalendar) date.day = 29;
    } else if (date.day == 29) {
        date.day = 28;
    }
}

x_date_type NextPeriodEnd(const x_date_type& source, const x_date_type& previous) {
    x_date_type next;
    next.month = static_cast<uint16_t>(previous.month >= 12 ? 1 : previous.month + 1);
    next.year = static_cast<uint16_t>(previous.month >= 12 ? previous.year + 1 : previous.year);
    next.day = MonthEndDay(IsLastDayOfMonth(source), next.month, source.month, source.day, source.year);
    // A fiscal year ending on the 30th gives no February 30th: such a period ends on the
    // month's last day instead of on a date the calendar could not hold.
    const int length = DaysIn(next.month, next.year);
    if (length > 0 && next.day > length) next.day = static_cast<uint16_t>(length);
    return next;
}

std::array<x_date_type, 12> FillPeriodDates(const x_date_type& fiscalEnd) {
    std::array<x_date_type, 12> out{};
    x_date_type previous = fiscalEnd;
    previous.year = static_cast<uint16_t>(fiscalEnd.year - 1);
    for (auto& date : out) {
        previous = NextPeriodEnd(fiscalEnd, previous);
        date = previous;
    }
    return out;
}

void ShiftCalendarYear(CalendarDates& calendar, int targetYear, int offset, bool thirteen, bool monthEndCalendar) {
    const int periods = thirteen ? 13 : 12;
    for (int p = 1; p <= periods; ++p) {
        x_date_type date = PeriodOf(calendar, kYearCurrent, p);
        if (!date.blank()) {
            date.year = static_cast<uint16_t>(date.year + offset);
            AdjustFebruaryDay(date, monthEndCalendar);
        }
        PeriodOf(calendar, targetYear, p) = date;
    }
}

bool PeriodsEndOnMonthEnds(const CalendarDates& calendar) {
    for (int p = 1; p <= 6; ++p) {
        const x_date_type& date = PeriodOf(calendar, kYearCurrent, p);
        if (date.month == 2) continue;
        if (!IsLastDayOfMonth(date)) return false;
    }
    return true;
}

std::string CalendarDateText(const x_date_type& date, bool withYear) {
    std::string text = xd_alpha_date(date);
    if (!withYear && text.size() >= 5) text.resize(text.size() - 5);
    if (!text.empty() && text[0] == ' ') text.erase(0, 1);
    return text;
}

// ---- The calendar in the buffer -----------------------------------------------------------

CalendarDates ReadCalendar(uint16_t glm, uint16_t first) {
    CalendarDates calendar{};
    for (int i = 0; i < kCalendarDates; ++i) calendar[i] = GetDate(glm, static_cast<uint16_t>(first + i));
    return calendar;
}

void WriteCalendar(uint16_t glm, uint16_t first, const CalendarDates& calendar) {
    for (int i = 0; i < kCalendarDates; ++i) PutDate(glm, static_cast<uint16_t>(first + i), calendar[i]);
}

bool CheckPeriodCalendar(xvGLM& converter, uint16_t glm, uint16_t firstPeriodField, uint16_t periodEndField,
                         uint16_t thirteenField, uint16_t calendarStartField, std::string& reason,
                         convert::MessageList& messages, bool converting) {
    CalendarDates calendar = ReadCalendar(glm, firstPeriodField);
    const x_date_type periodEnd = GetDate(glm, periodEndField);
    const uint16_t periodCodeField = static_cast<uint16_t>(periodEndField + 1);
    const x_date_type fiscalEnd = GetDate(glm, static_cast<uint16_t>(periodEndField + 2));

    // 1. The current year's twelve periods: all given, or all left to be generated.
    int given = 0;
    for (int p = 1; p <= 12; ++p)
        if (!PeriodOf(calendar, kYearCurrent, p).blank()) ++given;
    const bool hasThirteenth = !PeriodOf(calendar, kYearCurrent, 13).blank();
    if (given == 0 && !hasThirteenth) {
        const auto generated = FillPeriodDates(fiscalEnd);
        for (int p = 1; p <= 12; ++p) PeriodOf(calendar, kYearCurrent, p) = generated[p - 1];
        WriteCalendar(glm, firstPeriodField, calendar);
    } else if (given < 12) {
        reason = Msg(12118);
        return false;
    }

    // 2. The calendar ends on the fiscal ending date.
    const int periods = hasThirteenth ? 13 : 12;
    const x_date_type last = PeriodOf(calendar, kYearCurrent, periods);
    if (!SameMonthDay(last, fiscalEnd)) {
        reason = Msg(12119, CalendarDateText(fiscalEnd), CalendarDateText(last));
        return false;
    }

    // 3. The period ending date names the current period.
    int current = 0;
    for (int p = 1; p <= 13 && current == 0; ++p)
        if (SameMonthDay(PeriodOf(calendar, kYearCurrent, p), periodEnd)) current = p;
    if (current == 0) {
        reason = Msg(12120, CalendarDateText(periodEnd));
        return false;
    }
    const double code = GetNumber(glm, periodCodeField);
    if (code != 0 && Whole(code) != current) {
        messages.push_back(Msg(12121, ModeWord("has changed/will change", converting), FormatNumber("%.0f", code),
                               FormatInt("%d", current), converting ? "158" : "159"));
    }
    PutNumber(glm, periodCodeField, current);

    // 4. Periods in order, no two on the same day, each within 45 days of the one before.
    x_date_type previous = last;
    long days = 0;
    for (int p = 1; p <= periods; ++p) {
        const x_date_type date = PeriodOf(calendar, kYearCurrent, p);
        if (SameMonthDay(date, previous)) {
            reason = Msg(12122, CalendarDateText(date));
            return false;
        }
        if (p == 1) {
            previous = date;
            continue;
        }
        x_date_type placed = date;
        placed.year = previous.year;
        if (xd_compare_dates(placed, previous) < 0) ++placed.year;
        const long gap = xd_compare_dates(placed, previous);
        if (gap > 45)
            messages.push_back(Msg(12123, CalendarDateText(previous, false), CalendarDateText(placed, false)));
        days += gap;
        previous = placed;
    }

    // 5. At most one year.
    if (days >= 366) {
        reason = Msg(12124);
        return false;
    }
    return converter.CheckCalendar(glm, firstPeriodField, periodEndField, thirteenField, calendarStartField, reason,
                                   messages, converting);
}

bool xvGLM::CheckCalendar(uint16_t glm, uint16_t firstPeriodField, uint16_t /*periodEndField*/,
                          uint16_t thirteenField, uint16_t calendarStartField, std::string& reason,
                          convert::MessageList& /*messages*/, bool /*converting*/) {
    CalendarDates calendar = ReadCalendar(glm, firstPeriodField);
    const bool hasThirteenth = !PeriodOf(calendar, kYearCurrent, 13).blank();

    // 1. Thirteen periods exactly when the current year has a 13th period.
    if (GetFlag(glm, thirteenField) == 1) {
        if (!hasThirteenth) {
            reason = Msg(12784);
            return false;
        }
    } else if (hasThirteenth) {
        PutFlag(glm, thirteenField, 1);
    }
    const bool thirteen = hasThirteenth;

    // 2, 3. The other three years: all given or all left to be generated.
    bool allEmpty = true, allFilled = true;
    for (int year : {kYearTwoAgo, kYearLast, kYearNext}) {
        for (int p = 1; p <= 13; ++p) {
            const x_date_type& date = PeriodOf(calendar, year, p);
            if (p == 13 && !thirteen) {
                if (!date.blank()) {
                    const auto field = static_cast<uint16_t>(firstPeriodField + year * kPeriodsPerYear + 12);
                    reason = Msg(12785, FieldDescription(glm, field, false, convert::Fallback::FieldName), xd_alpha_date(date));
                    return false;
                }
                continue;
            }
            (date.blank() ? allFilled : allEmpty) = false;
        }
    }
    if (!allEmpty && !allFilled) {
        reason = Msg(12118);
        return false;
    }
    const bool monthEnds = PeriodsEndOnMonthEnds(calendar);
    if (allEmpty) {
        ShiftCalendarYear(calendar, kYearTwoAgo, -2, thirteen, monthEnds);
        ShiftCalendarYear(calendar, kYearLast, -1, thirteen, monthEnds);
        ShiftCalendarYear(calendar, kYearNext, +1, thirteen, monthEnds);
        WriteCalendar(glm, firstPeriodField, calendar);
    }

    // 5. The calendar starts the day after the current year's end three years earlier.
    x_date_type start = GetDate(glm, calendarStartField);
    if (start.blank()) {
        start = PeriodOf(calendar, kYearCurrent, thirteen ? 13 : 12);
        start.year = static_cast<uint16_t>(start.year - 3);
        AdjustFebruaryDay(start, monthEnds);
        suite::xd_offset_date(start, 0, 1);
        PutDate(glm, calendarStartField, start);
    }

    // 6. Every period ends after the one before it, from the calendar start on.
    x_date_type previous = start;
    uint16_t previousField = calendarStartField;
    for (int i = 0; i < kCalendarDates; ++i) {
        if (i % kPeriodsPerYear == 12 && !thirteen) continue;
        const auto field = static_cast<uint16_t>(firstPeriodField + i);
        if (xd_compare_dates(calendar[i], previous) <= 0) {
            reason = Msg(12786, FieldDescription(glm, previousField, false, convert::Fallback::FieldName), xd_alpha_date(previous),
                         FieldDescription(glm, field, false, convert::Fallback::FieldName), xd_alpha_date(calendar[i]));
            return false;
        }
        previous = calendar[i];
        previousField = field;
    }
    return true;
}

// ---- Texts for 12107 ----------------------------------------------------------------------

void DescribePartnerValue(uint16_t glm, uint16_t first, uint16_t last, bool& found, std::string& text) {
    found = false;
    int n = 1;
    for (unsigned f = first; first && f <= last; f += 3, ++n) {
        const double number = GetNumber(glm, static_cast<uint16_t>(f));
        if (number != 0) {
            text = Limit(Printf("%s %d with %.0f", "Partner", n, number));
            found = true;
            return;
        }
        if (f + 1 > last) break;
        const double percent = GetNumber(glm, static_cast<uint16_t>(f + 1));
        if (percent != 0) {
            text = Limit(Printf("%s %d %s with %.6f", "Partner", n, "percent", percent / 1000000.0));
            found = true;
            return;
        }
        if (f + 2 > last) break;
        const std::string base = GetText(glm, static_cast<uint16_t>(f + 2));
        if (!base.empty()) {
            const std::string shown = FormatAccount(base, suite::kGlBaseAccount);
            text = Limit(Printf("%s %d %s with %s", "Partner", n, "Ret Earn", shown.c_str()));
            found = true;
            return;
        }
    }
}

void DescribePeriodDateValue(uint16_t glm, uint16_t first, uint16_t last, bool& found, std::string& text) {
    found = false;
    for (unsigned f = first; first && f <= last; ++f) {
        const x_date_type date = GetDate(glm, static_cast<uint16_t>(f));
        if (date.blank()) continue;
        const int position = static_cast<int>(f - first);
        const char* year = position <= 12 ? "2 yrs ago" : position <= 25 ? "1 yr ago" : position <= 38 ? "current" : "future";
        text = Limit(Printf("Period %d, %s with %s", position % kPeriodsPerYear + 1, year, xd_alpha_date(date).c_str()));
        found = true;
        return;
    }
}

void DescribeClosedPeriodValue(uint16_t glm, uint16_t first, uint16_t last, bool& found, std::string& text) {
    found = false;
    for (unsigned f = first; first && f <= last; ++f) {
        if (GetFlag(glm, static_cast<uint16_t>(f)) == 0) continue;
        text = Limit(Printf("%s %d %s with %s", "Period", static_cast<int>(f - first + 1), "closed", "TRUE"));
        found = true;
        return;
    }
}

}  // namespace dz::gl
