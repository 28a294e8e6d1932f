// Converting the text of one column into a field value.
#pragma once

#include "platform/datafile/xio.h"

#include <string>
#include <string_view>

namespace dz::xvl {

// Outcome of a conversion: 0, or an ImportError number with `detail` saying what was expected
// (of a date, why it does not exist; empty when it is not of a date's form).
struct ConvertOutcome {
    int error = 0;
    std::string detail;
};

// Text of any field type into `value` (only the member of the field's type is set).
// Numbers: an optional sign, digits and an optional decimal point; stored scaled by the
// field's decimals (12.34 in a 2-decimal field is 1234). Logical: Y/YES/T/TRUE/1 or
// N/NO/F/FALSE/0. Dates: m/d/yyyy, m/d/yy, m-d-yyyy, yyyy-mm-dd, yyyymmdd, mmddyyyy, mmddyy.
// Times: h:mm or h:mm:ss, optionally followed by AM or PM. Choices: the item number or the
// item's text (letter case ignored). Texts (UTF-8) longer than the field, counted in
// characters, are refused; longer than 80 bytes they travel in longText (refused with 21 when
// longer than 80 characters unless `acceptLongText`).
ConvertOutcome ConvertText(const xio_fld_def& def, std::string_view text, bool acceptLongText, x_value_def& value);

// What ConvertText checks of a text field's value, without taking the value: 0 when the
// field may take `text` as it stands.
ConvertOutcome CheckText(const xio_fld_def& def, std::string_view text, bool acceptLongText);

// Pieces, also used for special values.
int ParseScaledNumber(std::string_view text, int decimals, int length, bool isSigned, double& out);
bool ParsePlainNumber(std::string_view text, double& out);
bool ParseLogical(std::string_view text, uint16_t& out);
// The years a date may have.
inline constexpr int kFirstDateYear = 1753, kLastDateYear = 9999;
// What a text or a month, day and year make: a date; nothing of a date's form (or a month, day
// or year no date has); or a day past its month's last (2/30/2026), which is told apart so that
// the user hears that the date does not exist rather than that its form is wrong.
enum DateCheck { kDateExists, kNotADate, kDayPastMonthEnd };
DateCheck CheckDate(int m, int d, int y, int firstYear = kFirstDateYear);
// `out` takes the date, or the month, day and year read of a day past its month's last.
DateCheck ReadDate(std::string_view text, x_date_type& out);
inline bool ParseDate(std::string_view text, x_date_type& out) {
    x_date_type read;
    if (ReadDate(text, read) != kDateExists) return false;
    out = read;
    return true;
}
// The days of month m (1..12) of year y, and the words that say so ("month 2 of 2026 has 28 days").
int MonthDays(int m, int y);
std::string MonthLengthText(int m, int y);
bool ParseTime(std::string_view text, x_time_type& out);

// Without its leading and trailing blanks and tabs. Inline: values are mostly trimmed already.
inline std::string_view Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}
bool IsBlank(std::string_view s);

}  // namespace dz::xvl
