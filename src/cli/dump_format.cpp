#include "cli/dump_format.h"

#include "platform/datafile/utf8.h"
#include "platform/import/xvl_encoding.h"
#include "platform/import/xvl_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace dz::cli {

using xvl::Utf8ValidLength;

std::string dump_quoted(const std::string& s) {
    std::string out = "\"";
    auto escape = [&out](unsigned char c) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
        out += buf;
    };
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') out += '\\';
            if (c < 0x20 || c == 0x7f) escape(c);
            else out += static_cast<char>(c);
            ++i;
            continue;
        }
        // A character is printed as it is; a byte that starts none, and a control character
        // (U+0080 to U+009F), are escaped.
        const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        const bool valid = Utf8ValidLength(std::string_view(s).substr(i, len)) == len && i + len <= s.size();
        const bool control = c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0;
        if (valid && !control) {
            out.append(s, i, len);
            i += len;
        } else if (valid) {
            for (std::size_t k = 0; k < len; ++k) escape(static_cast<unsigned char>(s[i + k]));
            i += len;
        } else {
            escape(c);
            ++i;
        }
    }
    return out + "\"";
}

namespace {

// Plain digits, never an exponent: a reader compares amounts by eye. Still the shortest text
// that reads back to the same double, so the dump stays exact.
std::string number_text(double v) {
    char buf[400];  // room for the widest fixed-point double
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return std::string(buf, res.ptr);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Exactly `n` digits at `at` of `s`, as a number; -1 otherwise.
int digits(const std::string& s, std::size_t at, std::size_t n) {
    if (at + n > s.size()) return -1;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

}  // namespace

std::string dump_value(const xio_fld_def& f, const x_value_def& v) {
    char buf[32];
    switch (f.type) {
        case XIO_TYPE_TEXT:
        case XIO_TYPE_RIGHT_TEXT: return dump_quoted(v.longText.empty() ? v.text : v.longText);
        case XIO_TYPE_LOGICAL: return v.flag ? "1" : "0";
        case XIO_TYPE_DATE:
            if (v.date.blank()) return "";
            std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", v.date.year, v.date.month, v.date.day);
            return buf;
        case XIO_TYPE_TIME:
            std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", v.time.hour, v.time.minute, v.time.second);
            return buf;
        default: return number_text(v.number);
    }
}

std::size_t read_quoted(std::string_view in, std::string& text) {
    text.clear();
    if (in.empty() || in[0] != '"') return 0;
    for (std::size_t i = 1; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '"') return i + 1;
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++i >= in.size()) return 0;
        if (in[i] == '"' || in[i] == '\\') {
            text += in[i];
        } else if (in[i] == 'x' && i + 2 < in.size() && hex_digit(in[i + 1]) >= 0 && hex_digit(in[i + 2]) >= 0) {
            text += static_cast<char>(hex_digit(in[i + 1]) * 16 + hex_digit(in[i + 2]));
            i += 2;
        } else {
            return 0;
        }
    }
    return 0;
}

bool parse_value(const xio_fld_def& f, const std::string& s, x_value_def& v, std::string& why) {
    switch (f.type) {
        case XIO_TYPE_TEXT:
        case XIO_TYPE_RIGHT_TEXT:
            if (s.size() > f.length && Utf8Length(s) > f.length) {
                why = "is " + std::to_string(Utf8Length(s)) + " characters long; the field holds " + std::to_string(f.length);
                return false;
            }
            if (s.find('\0') != std::string::npos) {
                why = "holds a zero byte";
                return false;
            }
            if (s.size() > x_value_def::kTextMax) {
                v.text = Utf8PrefixBytes(s, x_value_def::kTextMax);
                v.longText = s;
            } else {
                v.text = s;
            }
            return true;
        case XIO_TYPE_LOGICAL:
            if (s != "0" && s != "1") {
                why = "is not 1 or 0";
                return false;
            }
            v.flag = s == "1" ? 1 : 0;
            return true;
        case XIO_TYPE_DATE: {
            if (s.empty()) {
                v.date = {};
                return true;
            }
            const int y = digits(s, 0, 4), m = digits(s, 5, 2), d = digits(s, 8, 2);
            const bool form = s.size() == 10 && s[4] == '-' && s[7] == '-' && y >= 0 && m >= 0 && d >= 0;
            // Any year a dump can print is taken; whether the day exists is the text files' own check.
            const xvl::DateCheck check = form ? xvl::CheckDate(m, d, y, 0) : xvl::kNotADate;
            if (check == xvl::kDayPastMonthEnd) {
                why = "is a date that does not exist: " + xvl::MonthLengthText(m, y);
                return false;
            }
            if (check != xvl::kDateExists) {
                why = "is not a date written YYYY-MM-DD";
                return false;
            }
            v.date = {static_cast<uint16_t>(m), static_cast<uint16_t>(d), static_cast<uint16_t>(y)};
            return true;
        }
        case XIO_TYPE_TIME: {
            const int h = digits(s, 0, 2), m = digits(s, 3, 2), sec = digits(s, 6, 2);
            if (s.size() != 8 || s[2] != ':' || s[5] != ':' || h < 0 || h > 23 || m < 0 || m > 59 || sec < 0 ||
                sec > 59) {
                why = "is not a time written HH:MM:SS";
                return false;
            }
            v.time = {static_cast<uint16_t>(h), static_cast<uint16_t>(m), static_cast<uint16_t>(sec)};
            return true;
        }
        default: break;
    }
    double n = 0;
    const char* end = s.data() + s.size();
    auto res = std::from_chars(s.data(), end, n, std::chars_format::fixed);
    if (s.empty() || res.ec != std::errc() || res.ptr != end || !std::isfinite(n)) {
        why = "is not a number";
        return false;
    }
    if (xio_is_choice_type(f.type)) {
        if (n != std::floor(n) || n < 0 || n > static_cast<double>(f.items.size())) {
            why = "is not an item number of the choice (0 to " + std::to_string(f.items.size()) + ")";
            return false;
        }
    } else {
        if (n < 0 && !f.isSigned) {
            why = "is negative; the field is unsigned";
            return false;
        }
        // The stored value carries the field's implied decimals: at most `length` digits.
        if (f.length > 0 && f.length < 19 && std::fabs(n) >= std::pow(10.0, f.length)) {
            why = "has more than the field's " + std::to_string(f.length) + " digits";
            return false;
        }
        // The stored value counts the field's smallest unit: a fraction of it is no value a
        // conversion writes, and an amount with a fraction of a cent is refused, not kept.
        if (n != std::trunc(n)) {
            why = f.decimals == 0 ? std::string("is not a whole number; the field holds whole numbers")
                                  : "is not a whole number; the field's amounts are written with their " +
                                        std::to_string(f.decimals) +
                                        " implied decimals, as dump prints them (12.34 in a 2-decimal field is 1234)";
            return false;
        }
    }
    v.number = n == 0 ? 0 : n;  // never a negative zero
    return true;
}

}  // namespace dz::cli
