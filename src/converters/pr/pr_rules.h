// What the payroll record handlers share: the installed payroll country, the one way a field the
// country does not use is dropped (12289), the current-totals rule (12310), the employee-must-exist
// rule (12311), the check digits of bank routing and social insurance numbers, and the reordering
// of employee names into last-name-first form.
#pragma once

#include "convert/converter.h"
#include "convert/reports.h"
#include "platform/datafile/xio.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

namespace dz::pr {

// The payroll country (the installation's, not the employee's).
inline constexpr uint16_t kCountryUsa = 1;
inline constexpr uint16_t kCountryCanada = 2;
inline constexpr uint16_t kCountryAustralia = 61;

// ---- Fields a country does not use ------------------------------------------------------------
// How a field holds "a value" and what it is reset to.
enum class FieldKind { Text, YesNo, Number, Amount, Date, Choice };

// The value of a field as messages show it (numbers "%.0f", amounts "%.2f" of hundredths, choices
// "%s (%.0f)", dates as written, a yes `yesText`), after which the field is reset to its empty
// value (a choice to `choiceDefault`); nothing when the field holds no value.
std::optional<std::string> TakeFieldValue(uint16_t file, uint16_t field, FieldKind kind, const char* yesText = "TRUE",
                                          double choiceDefault = 1);

// Drops a field the installed country does not use: when it holds a value, appends 12289 (label,
// countries text, value text, the mode's words) and resets the field. `label` empty: the field's
// description. `yesText` is what a dropped yes/no shows ("TRUE" or "YES"); `choiceDefault` the
// item a choice is reset to. True when the field was dropped.
bool DropCountryField(uint16_t file, uint16_t rec, const char* name, FieldKind kind, const char* countries,
                      convert::MessageList& messages, bool converting, const std::string& label = {},
                      const char* yesText = "TRUE", double choiceDefault = 1);
// The same for a field whose number is known.
bool DropCountryField(uint16_t file, uint16_t field, FieldKind kind, const char* countries,
                      convert::MessageList& messages, bool converting, const std::string& label = {},
                      const char* yesText = "TRUE", double choiceDefault = 1);
// False only for a field DropCountryField leaves alone (a date set is looked at no further):
// the look a handler takes inline before it on every record, as most records hold none of the
// fields their country drops.
inline bool MayHoldCountryValue(uint16_t file, uint16_t field, FieldKind kind, double choiceDefault = 1) {
    switch (kind) {
    case FieldKind::Text: return !xio_get_text(file, field).empty();
    case FieldKind::YesNo: return xio_get_flag(file, field) == 1;
    case FieldKind::Number:
    case FieldKind::Amount: return xio_get_number(file, field) != 0;
    case FieldKind::Date: return xio_get_field_result(file, 0, field) != 0;
    case FieldKind::Choice: return xio_get_number(file, field) != choiceDefault;
    }
    return true;
}

// ---- Current totals -----------------------------------------------------------------------------
struct TotalsRun {
    const char* first;
    const char* last;
};
// Unless `allowTotals`, zeroes every non-zero total of the runs (every second field number from
// a run's first to its last) and names the first one in one 12310.
void ClearCurrentTotals(uint16_t file, uint16_t rec, std::initializer_list<TotalsRun> runs, bool allowTotals,
                        convert::MessageList& messages);
// The same for one run given by its field numbers (0: no such field, nothing cleared).
void ClearCurrentTotals(uint16_t file, uint16_t first, uint16_t last, bool allowTotals,
                        convert::MessageList& messages);

// ---- Amounts ------------------------------------------------------------------------------------
// An amount stored in hundred-thousandths, rounded to whole cents half away from zero (exactly,
// on the stored number: 1234567 becomes 1235000, -1234500 becomes -1235000).
double RoundToCents(double stored);

// ---- The employee must exist --------------------------------------------------------------------
// The employee `empId` is on file (record 1), or, in Examine Files, was accepted earlier in the
// text file (`ids`). A handler that finds it missing gives 12311 naming its record.
bool EmployeeOnFile(uint16_t prm, const std::string& empId, const convert::RecordIdMap& ids, bool converting);

// ---- Check digits ---------------------------------------------------------------------------------
// The check digit (0 to 9) of a bank routing number whose first eight digits are `first8`
// (below 100000000; leading zeros count as zeros).
int16_t BankIdCheckDigit(double first8);
// True when the ninth digit of a social insurance number ("999-999-999", "999 999 999" or
// nine digits) is its check digit; `expected` receives the computed digit in every case.
bool CheckSinDigit(const std::string& sin, uint16_t& expected);
// The standard shape of a social insurance number: 11 characters, the 4th and 8th a hyphen or a
// blank, the other nine digits.
bool SinHasStandardFormat(const std::string& sin);

// ---- Employee names ----------------------------------------------------------------------------------
// The position just after the name word (letters and hyphens, a one-letter word with its full
// stop) that starts at or after `start` once blanks are skipped. `oneLetter`, when given, is set
// to whether the word has exactly one character.
int16_t ScanNameWord(const std::string& name, int16_t start, uint16_t* oneLetter = nullptr);
// Rewrites "First Last" and "First I. Last" into "Last; First[ I.]" (cut to 35 characters) and
// "Last,First" into "Last;First". 1 when the shape was recognised, 0 when the name is unchanged.
int16_t ReorderEmployeeName(std::string& name);
inline constexpr std::size_t kEmployeeNameMax = 35;

}  // namespace dz::pr
