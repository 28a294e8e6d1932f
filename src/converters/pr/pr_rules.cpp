#include "converters/pr/pr_rules.h"

#include "convert/record_fields.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"

#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <utility>

namespace dz::pr {

using namespace convert;

namespace {

// Which bytes are letters of a name, as std::isalpha answers under the C locale (the program
// sets it, if at all, before its first conversion): asking the locale costs a call for every
// character, and every employee's name is scanned.
const std::array<bool, 256>& NameLetters() {
    static const std::array<bool, 256> letters = [] {
        std::array<bool, 256> table{};
        for (int c = 0; c < 256; ++c) table[static_cast<std::size_t>(c)] = std::isalpha(c) != 0 || c == '-';
        return table;
    }();
    return letters;
}

bool IsNameLetter(char c) { return NameLetters()[static_cast<unsigned char>(c)]; }

// Nothing but blanks from `pos` on.
bool OnlyBlanksFrom(const std::string& s, std::size_t pos) {
    for (std::size_t i = pos; i < s.size(); ++i)
        if (s[i] != ' ') return false;
    return true;
}

char At(const std::string& s, std::size_t pos) { return pos < s.size() ? s[pos] : '\0'; }

// Whether the field holds a value TakeFieldValue would take: the look the record handlers give
// every field a country drops, on every employee, before anything is built.
bool FieldHoldsValue(uint16_t file, uint16_t field, FieldKind kind, double choiceDefault) {
    if (!field) return false;
    switch (kind) {
    case FieldKind::Text:
        return !xio_get_text(file, field).empty();
    case FieldKind::YesNo:
        return xio_get_flag(file, field) == 1;
    case FieldKind::Number:
    case FieldKind::Amount:
        return xio_get_number(file, field) != 0;
    case FieldKind::Date:
        // A date never set is stored as zero, and is told without building the field's value.
        return xio_get_field_result(file, 0, field) != 0 && !convert::GetDate(file, field).blank();
    case FieldKind::Choice:
        return xio_get_number(file, field) != choiceDefault;
    }
    return false;
}

}  // namespace

std::optional<std::string> TakeFieldValue(uint16_t file, uint16_t field, FieldKind kind, const char* yesText,
                                          double choiceDefault) {
    if (!FieldHoldsValue(file, field, kind, choiceDefault)) return std::nullopt;
    std::string shown;
    switch (kind) {
    case FieldKind::Text:
        shown = xio_get_text(file, field);
        convert::PutText(file, field, "");
        break;
    case FieldKind::YesNo:
        shown = yesText;
        convert::PutFlag(file, field, 0);
        break;
    case FieldKind::Number:
        shown = convert::FormatNumber("%.0f", convert::GetNumber(file, field));
        convert::PutNumber(file, field, 0);
        break;
    case FieldKind::Amount:
        shown = convert::Amount(convert::GetNumber(file, field));
        convert::PutNumber(file, field, 0);
        break;
    case FieldKind::Date:
        shown = suite::xd_alpha_date(convert::GetDate(file, field));
        convert::PutDate(file, field, x_date_type{});
        break;
    case FieldKind::Choice: {
        const double item = convert::GetNumber(file, field);
        shown = convert::ChoiceText(file, field, item, true);
        convert::PutNumber(file, field, choiceDefault);
        break;
    }
    }
    return shown;
}

bool DropCountryField(uint16_t file, uint16_t rec, const char* name, FieldKind kind, const char* countries,
                      convert::MessageList& messages, bool converting, const std::string& label, const char* yesText,
                      double choiceDefault) {
    return DropCountryField(file, FieldNo(file, rec, name), kind, countries, messages, converting, label, yesText,
                            choiceDefault);
}

bool DropCountryField(uint16_t file, uint16_t field, FieldKind kind, const char* countries,
                      convert::MessageList& messages, bool converting, const std::string& label, const char* yesText,
                      double choiceDefault) {
    if (!FieldHoldsValue(file, field, kind, choiceDefault)) return false;
    const std::optional<std::string> shown = TakeFieldValue(file, field, kind, yesText, choiceDefault);
    if (!shown) return false;
    std::string fieldLabel = label;
    if (fieldLabel.empty()) {
        xio_fld_def def;
        if (xio_get_fld_def(file, field, def) == XIO_OK) fieldLabel = def.description;
    }
    messages.push_back(Msg(12289, fieldLabel, countries, *shown, converting ? "was not" : "will not be",
                           converting ? "819" : "820"));
    return true;
}

namespace {

// Zeroes every non-zero total from `first` to `last` (every second field number); the first
// one found is named in one 12310 unless `noted` already is.
void ClearTotalsRun(uint16_t file, uint16_t first, uint16_t last, convert::MessageList& messages, bool& noted) {
    if (!first || !last) return;
    for (uint32_t f = first; f <= last; f += 2) {
        const auto field = static_cast<uint16_t>(f);
        const double value = xio_get_number(file, field);
        if (value == 0) continue;
        if (!noted) {
            xio_fld_def def;
            xio_get_fld_def(file, field, def);
            const std::string shown = def.decimals == 4 ? convert::FormatNumber("%.4f", value / 10000)
                                                        : convert::FormatNumber("%.2f", value / 100);
            messages.push_back(Msg(12310, def.description, shown));
            noted = true;
        }
        xio_put_number(file, field, 0);
    }
}

}  // namespace

void ClearCurrentTotals(uint16_t file, uint16_t rec, std::initializer_list<TotalsRun> runs, bool allowTotals,
                        convert::MessageList& messages) {
    if (allowTotals) return;
    bool noted = false;
    for (const TotalsRun& run : runs)
        ClearTotalsRun(file, FieldNo(file, rec, run.first), FieldNo(file, rec, run.last), messages, noted);
}

void ClearCurrentTotals(uint16_t file, uint16_t first, uint16_t last, bool allowTotals,
                        convert::MessageList& messages) {
    if (allowTotals) return;
    bool noted = false;
    ClearTotalsRun(file, first, last, messages, noted);
}

double RoundToCents(double stored) {
    const auto value = static_cast<int64_t>(std::llround(stored));
    const int64_t rest = value % 1000;  // takes the sign of the value
    if (rest == 0) return static_cast<double>(value);
    int64_t cents = value / 1000;  // toward zero
    if (rest >= 500) ++cents;
    if (rest <= -500) --cents;
    return static_cast<double>(cents * 1000);
}

bool EmployeeOnFile(uint16_t prm, const std::string& empId, const convert::RecordIdMap& ids, bool converting) {
    // The record-1 buffer is borrowed for the look-up; the caller's record is in its own buffer.
    xio_init_record(prm, 1);
    convert::PutText(prm, 1, "EMPID", empId);
    if (xio_find_record(prm, 1, 0) == XIO_OK) return true;
    return !converting && convert::FindInIdMap(prm, 1, ids);
}

int16_t BankIdCheckDigit(double first8) {
    char digits[64];
    std::snprintf(digits, sizeof digits, "%8.0f", first8);
    static const int kWeights[3] = {3, 7, 1};
    int sum = 0;
    for (int i = 0; i < 8 && digits[i]; ++i) {
        const int d = std::isdigit(static_cast<unsigned char>(digits[i])) ? digits[i] - '0' : 0;
        sum += d * kWeights[i % 3];
    }
    return static_cast<int16_t>(sum % 10 == 0 ? 0 : 10 - sum % 10);
}

bool SinHasStandardFormat(const std::string& sin) {
    if (sin.size() != 11) return false;
    for (std::size_t i = 0; i < 11; ++i) {
        const char c = sin[i];
        if (i == 3 || i == 7) {
            if (c != '-' && c != ' ') return false;
        } else if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

bool CheckSinDigit(const std::string& sin, uint16_t& expected) {
    std::string s = sin;
    if (s.size() == 11) {
        s.erase(7, 1);
        s.erase(3, 1);
    }
    auto digit = [&](std::size_t i) {
        return i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) ? s[i] - '0' : 0;
    };
    int sum = digit(0) + digit(2) + digit(4) + digit(6);
    int doubled = 2 * (digit(1) * 1000 + digit(3) * 100 + digit(5) * 10 + digit(7));
    while (doubled > 0) {
        sum += doubled % 10;
        doubled /= 10;
    }
    expected = static_cast<uint16_t>(sum % 10 == 0 ? 0 : 10 - sum % 10);
    return digit(8) == expected && s.size() >= 9;
}

int16_t ScanNameWord(const std::string& name, int16_t start, uint16_t* oneLetter) {
    std::size_t pos = start < 0 ? 0 : static_cast<std::size_t>(start);
    while (At(name, pos) == ' ') ++pos;
    const std::size_t begin = pos;
    while (IsNameLetter(At(name, pos))) ++pos;
    const bool one = pos - begin == 1;
    if (oneLetter) *oneLetter = one ? 1 : 0;
    if (one && At(name, pos) == '.') ++pos;
    return static_cast<int16_t>(pos);
}

int16_t ReorderEmployeeName(std::string& name) {
    const auto w1 = static_cast<std::size_t>(ScanNameWord(name, 0));
    const char c = At(name, w1);
    if (c == ';' || c == ',') {
        auto end = static_cast<std::size_t>(ScanNameWord(name, static_cast<int16_t>(w1 + 1)));
        if (At(name, end) == ' ') end = static_cast<std::size_t>(ScanNameWord(name, static_cast<int16_t>(end)));
        if (!OnlyBlanksFrom(name, end)) return 0;
        if (c == ',') name[w1] = ';';
        return 1;
    }
    if (c != ' ') return 0;
    uint16_t oneLetter = 0;
    const auto w2 = static_cast<std::size_t>(ScanNameWord(name, static_cast<int16_t>(w1), &oneLetter));
    std::size_t firstEnd = w1;
    std::size_t last = w2;
    if (At(name, w2) == ' ') {
        firstEnd = w2;
        if (oneLetter) last = static_cast<std::size_t>(ScanNameWord(name, static_cast<int16_t>(w2)));
    }
    if (!OnlyBlanksFrom(name, last)) return 0;
    std::size_t from = firstEnd;
    while (At(name, from) == ' ') ++from;
    // Built in one string: every employee's name passes here.
    std::string out;
    out.reserve(name.size() + 2);
    out.append(name, from, last - from).append("; ").append(name, 0, firstEnd);
    if (out.size() > kEmployeeNameMax) out.resize(kEmployeeNameMax);
    name = std::move(out);
    return 1;
}

}  // namespace dz::pr
