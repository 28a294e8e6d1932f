#include "platform/suite/xd.h"

#include "platform/ui/shown_text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

namespace dz::suite {

namespace {

Clock& clock_slot() {
    static Clock clock;
    return clock;
}

LocalDateTime system_now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    LocalDateTime now;
    now.date = x_date_type{static_cast<uint16_t>(tm.tm_mon + 1), static_cast<uint16_t>(tm.tm_mday),
                           static_cast<uint16_t>(tm.tm_year + 1900)};
    now.time = x_time_type{static_cast<uint16_t>(tm.tm_hour), static_cast<uint16_t>(tm.tm_min),
                           static_cast<uint16_t>(std::min(tm.tm_sec, 59))};
    return now;
}

// DODEDOZ_NOW="YYYY-MM-DD HH:MM:SS" fixes the clock of a whole program run (golden reports
// of the command line). A value that does not parse is reported once and ignored.
std::optional<LocalDateTime> environment_now() {
    const char* env = std::getenv("DODEDOZ_NOW");
    if (!env || !*env) return std::nullopt;
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
    char tail = 0;
    const int n = std::sscanf(env, "%4u-%2u-%2u %2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &sec, &tail);
    LocalDateTime at{x_date_type{static_cast<uint16_t>(mo), static_cast<uint16_t>(d), static_cast<uint16_t>(y)},
                     x_time_type{static_cast<uint16_t>(h), static_cast<uint16_t>(mi), static_cast<uint16_t>(sec)}};
    if (n != 6 || mo < 1 || mo > 12 || d < 1 || static_cast<int>(d) > xd_month_length(at.date) || h > 23 ||
        mi > 59 || sec > 59) {
        static bool reported = false;
        if (!reported) {
            std::fprintf(stderr, "dodedoz: DODEDOZ_NOW='%s' is not \"YYYY-MM-DD HH:MM:SS\"; using the system clock\n",
                         ui::shown_text(env).c_str());
            reported = true;
        }
        return std::nullopt;
    }
    return at;
}

LocalDateTime now() {
    const Clock& c = clock_slot();
    if (c) return c();
    if (auto fixed = environment_now()) return *fixed;
    return system_now();
}

// Days since 1970-01-01 of a proleptic Gregorian date (any day number, even past the month's end).
long days_from_civil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

x_date_type civil_from_days(long z) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long y = static_cast<long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return x_date_type{static_cast<uint16_t>(m), static_cast<uint16_t>(d), static_cast<uint16_t>(y + (m <= 2))};
}

// Day number of a date; a blank date is day 0, before every real date (real dates are
// counted from a point far enough back to stay positive).
long day_number(const x_date_type& d) {
    if (d.blank()) return 0;
    long year = d.year;
    unsigned month = d.month;
    if (month > 12) {  // not a real month: counted on into the following years
        year += (month - 1) / 12;
        month = (month - 1) % 12 + 1;
    }
    static const long origin = days_from_civil(0, 1, 1) - 1;
    return days_from_civil(year, month, d.day) - origin;
}

}  // namespace

void xd_set_clock(Clock clock) { clock_slot() = std::move(clock); }

Clock xd_fixed_clock(LocalDateTime at) {
    return [at] { return at; };
}

x_date_type zqDate(unsigned month, unsigned day, unsigned year) {
    return x_date_type{static_cast<uint16_t>(month), static_cast<uint16_t>(day), static_cast<uint16_t>(year)};
}

bool xd_is_leap_year(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int xd_month_length(const x_date_type& date) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (date.month < 1 || date.month > 12) return 0;
    if (date.month == 2 && xd_is_leap_year(date.year)) return 29;
    return days[date.month - 1];
}

long xd_compare_dates(const x_date_type& a, const x_date_type& b) { return day_number(a) - day_number(b); }

void xd_offset_date(x_date_type& date, int months, int days) {
    if (date.blank()) return;
    if (months != 0) {
        long total = static_cast<long>(date.year) * 12 + (date.month - 1) + months;
        if (total < 0) total = 0;
        date.year = static_cast<uint16_t>(total / 12);
        date.month = static_cast<uint16_t>(total % 12 + 1);
        const int len = xd_month_length(date);
        if (date.day > len) date.day = static_cast<uint16_t>(len);
    }
    if (days != 0) {
        if (date.month > 12) return;  // not a date; leave it as it is
        date = civil_from_days(days_from_civil(date.year, date.month, date.day) + days);
    }
}

x_date_type xd_get_date() { return now().date; }

LocalDateTime xd_get_date_time() { return now(); }

x_time_type xd_get_time() { return now().time; }

std::string xd_alpha_date(const x_date_type& date) {
    if (date.blank()) return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%2u/%02u/%04u", unsigned(date.month), unsigned(date.day), unsigned(date.year));
    return buf;
}

std::string xd_alpha_time(const x_time_type& time) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%2u:%02u:%02u", unsigned(time.hour), unsigned(time.minute), unsigned(time.second));
    return buf;
}

}  // namespace dz::suite
