#include "platform/import/xvl_values.h"

#include "platform/datafile/text_assign.h"
#include "platform/datafile/utf8.h"

#include "platform/import/xvl_case.h"
#include "platform/import/xvl_messages.h"
#include "platform/suite/xd.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>

namespace dz::xvl {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits only, at most 9 of them.
bool allDigits(std::string_view s, int& v) {
    if (s.empty() || s.size() > 9) return false;
    v = 0;
    for (char c : s) {
        if (!isDigit(c)) return false;
        v = v * 10 + (c - '0');
    }
    return true;
}

bool validDate(int m, int d, int y) { return CheckDate(m, d, y) == kDateExists; }

int fullYear(int y, std::size_t digits) {
    if (digits <= 2) return y < 50 ? 2000 + y : 1900 + y;
    return y;
}

constexpr int64_t kPow10[19] = {1,
                                10,
                                100,
                                1000,
                                10000,
                                100000,
                                1000000,
                                10000000,
                                100000000,
                                1000000000,
                                10000000000LL,
                                100000000000LL,
                                1000000000000LL,
                                10000000000000LL,
                                100000000000000LL,
                                1000000000000000LL,
                                10000000000000000LL,
                                100000000000000000LL,
                                1000000000000000000LL};

}  // namespace

bool IsBlank(std::string_view s) { return Trim(s).empty(); }

int ParseScaledNumber(std::string_view text, int decimals, int length, bool isSigned, double& out) {
    std::string_view s = Trim(text);
    const char* p = s.data();
    const char* const end = p + s.size();
    bool neg = false;
    if (p < end && (*p == '-' || *p == '+')) neg = *p++ == '-';
    uint64_t mant = 0;
    int sig = 0;  // significant digits taken (leading zeros are not)
    bool anyDigit = false;
    for (; p < end && isDigit(*p); ++p) {
        anyDigit = true;
        if (sig == 0 && *p == '0') continue;
        ++sig;
        if (sig <= 18) mant = mant * 10 + static_cast<uint64_t>(*p - '0');
    }
    int frac = 0;
    bool extraDecimals = false;
    if (p < end && *p == '.') {
        for (++p; p < end && isDigit(*p); ++p) {
            anyDigit = true;
            if (frac < decimals) {
                ++frac;
                if (sig > 0 || *p != '0') ++sig;
                if (sig <= 18) mant = mant * 10 + static_cast<uint64_t>(*p - '0');
            } else if (*p != '0') {
                extraDecimals = true;
            }
        }
    }
    if (p != end || !anyDigit) return kErrNotConvertible;
    const int scale = decimals - frac;
    if (sig > 18 || extraDecimals || decimals > 18 || sig + scale > 18) return kErrNumberRange;
    int64_t v = static_cast<int64_t>(mant) * kPow10[scale];
    if (neg && v != 0 && !isSigned) return kErrNumberRange;
    if (length > 0 && length < 19 && v >= kPow10[length]) return kErrNumberRange;
    out = static_cast<double>(neg ? -v : v);
    return 0;
}

bool ParsePlainNumber(std::string_view text, double& out) {
    std::string s(Trim(text));
    if (s.empty()) return false;
    std::size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    bool digit = false, dot = false;
    for (; i < s.size(); ++i) {
        if (isDigit(s[i])) digit = true;
        else if (s[i] == '.' && !dot) dot = true;
        else return false;
    }
    if (!digit) return false;
    out = std::strtod(s.c_str(), nullptr);
    return true;
}

bool ParseLogical(std::string_view text, uint16_t& out) {
    std::string_view s = Trim(text);
    for (const char* w : {"Y", "YES", "T", "TRUE", "1"})
        if (equalNoCase(s, w)) {
            out = 1;
            return true;
        }
    for (const char* w : {"N", "NO", "F", "FALSE", "0"})
        if (equalNoCase(s, w)) {
            out = 0;
            return true;
        }
    return false;
}

namespace {

// Day d of month m of year y into `out` when it exists, or is a day past its month's last.
DateCheck made(int m, int d, int y, x_date_type& out) {
    const DateCheck check = CheckDate(m, d, y);
    if (check != kNotADate)
        out = x_date_type{static_cast<uint16_t>(m), static_cast<uint16_t>(d), static_cast<uint16_t>(y)};
    return check;
}

}  // namespace

DateCheck CheckDate(int m, int d, int y, int firstYear) {
    if (m < 1 || m > 12 || d < 1 || y < firstYear || y > kLastDateYear) return kNotADate;
    return d <= MonthDays(m, y) ? kDateExists : kDayPastMonthEnd;
}

int MonthDays(int m, int y) {
    const x_date_type first{static_cast<uint16_t>(m), 1, static_cast<uint16_t>(y)};
    return suite::xd_month_length(first);
}

std::string MonthLengthText(int m, int y) {
    return Msg(kMsgWhatMonthLength, std::to_string(m), std::to_string(y), std::to_string(MonthDays(m, y)));
}

DateCheck ReadDate(std::string_view text, x_date_type& out) {
    std::string_view s = Trim(text);
    int m = 0, d = 0, y = 0;
    {
        // The common m/d/yyyy form in one pass.
        int part[3] = {0, 0, 0};
        std::size_t len[3] = {0, 0, 0};
        int k = 0;
        bool simple = !s.empty();
        for (char c : s) {
            if (isDigit(c) && len[k] < 4) {
                part[k] = part[k] * 10 + (c - '0');
                ++len[k];
            } else if (c == '/' && k < 2 && len[k] > 0) {
                ++k;
            } else {
                simple = false;
                break;
            }
        }
        if (simple && k == 2 && len[0] <= 2 && len[1] <= 2 && (len[2] == 2 || len[2] == 4)) {
            m = part[0], d = part[1], y = fullYear(part[2], len[2]);
            return made(m, d, y, out);
        }
    }
    const std::size_t sep = s.find_first_of("/-.");
    if (sep == std::string_view::npos) {
        int v = 0;
        if (!allDigits(s, v)) return kNotADate;
        if (s.size() == 8) {
            int yy = 0, mm = 0, dd = 0;
            allDigits(s.substr(0, 4), yy);
            allDigits(s.substr(4, 2), mm);
            allDigits(s.substr(6, 2), dd);
            if (yy >= 1753 && validDate(mm, dd, yy)) {
                m = mm, d = dd, y = yy;
            } else {
                allDigits(s.substr(0, 2), m);
                allDigits(s.substr(2, 2), d);
                allDigits(s.substr(4, 4), y);
            }
        } else if (s.size() == 6) {
            allDigits(s.substr(0, 2), m);
            allDigits(s.substr(2, 2), d);
            allDigits(s.substr(4, 2), y);
            y = fullYear(y, 2);
        } else {
            return kNotADate;
        }
    } else {
        const char c = s[sep];
        const std::size_t sep2 = s.find(c, sep + 1);
        if (sep2 == std::string_view::npos || s.find_first_of("/-.", sep2 + 1) != std::string_view::npos) return kNotADate;
        std::string_view a = s.substr(0, sep), b = s.substr(sep + 1, sep2 - sep - 1), e = s.substr(sep2 + 1);
        int va = 0, vb = 0, ve = 0;
        if (!allDigits(a, va) || !allDigits(b, vb) || !allDigits(e, ve)) return kNotADate;
        if (a.size() == 4) {  // year first
            y = va, m = vb, d = ve;
            if (e.size() > 2 || b.size() > 2) return kNotADate;
        } else {
            if (a.size() > 2 || b.size() > 2 || (e.size() != 2 && e.size() != 4)) return kNotADate;
            m = va, d = vb, y = fullYear(ve, e.size());
        }
    }
    return made(m, d, y, out);
}

bool ParseTime(std::string_view text, x_time_type& out) {
    std::string_view s = Trim(text);
    int half = 0;  // 1 AM, 2 PM
    if (s.size() >= 2) {
        std::string_view tail = s.substr(s.size() - 2);
        if (equalNoCase(tail, "AM")) half = 1;
        else if (equalNoCase(tail, "PM")) half = 2;
        if (half) s = Trim(s.substr(0, s.size() - 2));
    }
    int parts[3] = {0, 0, 0};
    int n = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t j = s.find(':', i);
        std::string_view p = s.substr(i, j == std::string_view::npos ? std::string_view::npos : j - i);
        if (n >= 3 || p.empty() || p.size() > 2 || !allDigits(p, parts[n])) return false;
        if (n > 0 && p.size() != 2) return false;
        ++n;
        if (j == std::string_view::npos) break;
        i = j + 1;
    }
    if (n < 2) return false;
    int h = parts[0];
    if (half) {
        if (h < 1 || h > 12) return false;
        if (half == 1 && h == 12) h = 0;
        if (half == 2 && h != 12) h += 12;
    }
    if (h > 23 || parts[1] > 59 || parts[2] > 59) return false;
    out = x_time_type{static_cast<uint16_t>(h), static_cast<uint16_t>(parts[1]), static_cast<uint16_t>(parts[2])};
    return true;
}

ConvertOutcome CheckText(const xio_fld_def& def, std::string_view text, bool acceptLongText) {
    ConvertOutcome r;
    // Lengths count characters; a value longer than 80 bytes travels in longText.
    if (text.size() > def.length && def.length > 0 && Utf8Length(text) > def.length) {
        r.error = def.length > x_value_def::kTextMax ? kErrLongTextTooLong : kErrTooLong;
        r.detail = std::to_string(def.length);
    } else if (text.size() > x_value_def::kTextMax && !acceptLongText && Utf8Length(text) > x_value_def::kTextMax) {
        r.error = kErrLongTextTooLong;
        r.detail = std::to_string(x_value_def::kTextMax);
    }
    return r;
}

ConvertOutcome ConvertText(const xio_fld_def& def, std::string_view text, bool acceptLongText, x_value_def& value) {
    ConvertOutcome r;
    switch (def.type) {
        case XIO_TYPE_TEXT:
        case XIO_TYPE_RIGHT_TEXT: {
            r = CheckText(def, text, acceptLongText);
            if (r.error != 0) return r;
            if (text.size() > x_value_def::kTextMax) {
                value.longText.assign(text);
                value.text.assign(Utf8PrefixBytes(text, x_value_def::kTextMax));
            } else {
                AssignText(value.text, text);
                value.longText.clear();
            }
            return r;
        }
        case XIO_TYPE_NUMBER:
        case XIO_TYPE_EDITED: {
            // Decimals beyond the field's own come back as a fraction of the field's scale.
            const int extra = def.importDecimals > def.decimals ? def.importDecimals - def.decimals : 0;
            r.error =
                ParseScaledNumber(text, def.decimals + extra, def.length + extra, def.isSigned, value.number);
            if (extra && r.error == 0) value.number /= static_cast<double>(kPow10[extra]);
            return r;
        }
        case XIO_TYPE_LOGICAL:
            if (!ParseLogical(text, value.flag)) r.error = kErrLogical;
            return r;
        case XIO_TYPE_DATE: {
            x_date_type read;
            const DateCheck check = ReadDate(text, read);
            if (check == kDateExists) value.date = read;
            else r.error = kErrDate;
            if (check == kDayPastMonthEnd) r.detail = MonthLengthText(read.month, read.year);
            return r;
        }
        case XIO_TYPE_TIME:
            if (!ParseTime(text, value.time)) r.error = kErrNotConvertible;
            return r;
        case XIO_TYPE_CHOICE2:
        case XIO_TYPE_CHOICE3:
        case XIO_TYPE_CHOICE3B: {
            std::string_view s = Trim(text);
            int n = 0;
            if (allDigits(s, n) && n >= 0 && static_cast<std::size_t>(n) <= def.items.size()) {
                value.number = n;
                return r;
            }
            for (std::size_t i = 0; i < def.items.size(); ++i)
                if (equalNoCase(Trim(def.items[i]), s)) {
                    value.number = static_cast<double>(i + 1);
                    return r;
                }
            r.error = kErrChoice;
            return r;
        }
        default:
            r.error = kErrNotConvertible;
            return r;
    }
}

}  // namespace dz::xvl
