// Dates and times of the suite, with an injectable clock: tests and golden reports fix "today"
// and "now" so that their output does not depend on the day they run.
#pragma once

#include "platform/datafile/x_value.h"

#include <functional>
#include <string>

namespace dz::suite {

using dz::x_date_type;
using dz::x_time_type;

// A moment of local civil time.
struct LocalDateTime {
    x_date_type date;
    x_time_type time;
};

// The clock that xd_get_date / xd_get_time read. An empty function restores the default:
// the time in DODEDOZ_NOW ("YYYY-MM-DD HH:MM:SS") when that is set, else the system's local
// time.
using Clock = std::function<LocalDateTime()>;
void xd_set_clock(Clock clock);
// A clock that always answers `at`.
Clock xd_fixed_clock(LocalDateTime at);

// A date value of month, day and year.
x_date_type zqDate(unsigned month, unsigned day, unsigned year);

// a - b in whole days. A blank date (month 0) counts as day 0, before every real date.
long xd_compare_dates(const x_date_type& a, const x_date_type& b);
// Moves `date` in place by `months` (may be negative), then by `days` (may be negative).
// When the day does not exist in the target month it becomes that month's last day.
// A blank date stays blank.
void xd_offset_date(x_date_type& date, int months, int days);
// Days in the date's month, leap years counted; 0 for a month outside 1 to 12.
int xd_month_length(const x_date_type& date);
bool xd_is_leap_year(unsigned year);
// Today and now from the clock.
x_date_type xd_get_date();
// Date and time of one reading of the clock: a stamp takes both from it, so that one made as
// midnight passes does not pair the day before with the time after.
LocalDateTime xd_get_date_time();
x_time_type xd_get_time();
// "%2u/%02u/%04u" (month blank-padded); "" for a blank date.
std::string xd_alpha_date(const x_date_type& date);
// "%2u:%02u:%02u" on a 24-hour count.
std::string xd_alpha_time(const x_time_type& time);

}  // namespace dz::suite
