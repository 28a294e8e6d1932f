// What every property-management converter shares: the company's accounting method and the PM
// settings, blank tests, the labels and value texts messages show, custom lists, lookups of PM,
// GL and CM records that give back the key as stored, the next free sequence number of a
// numbered detail record, closing notes, and (PmConverter) the progress of the passes that run
// after the record loop.
//
// Field access by name and the message helpers (FieldNo, GetText, PutText, Msg, ModeWord,
// FormatNumber, ChoiceText, ...) are the converters' common ones (convert/record_fields.h).
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "platform/datafile/x_value.h"
#include "platform/suite/control.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dz::convert {
class NotesReport;
}

namespace dz::pm {

// ---- Files, numbers and settings ----------------------------------------------------------------
// Open codes of the PM data files (the transaction file is file 1 new, file 5 history).
inline constexpr uint16_t kPmsCode = 50, kPmpCode = 52, kPmlCode = 54, kPmnCode = 56, kPmrCode = 58;
inline constexpr uint16_t kPmtCode = 66, kPmhCode = 68;
inline constexpr uint16_t kPmtNewFile = 1, kPmtHistoryFile = 5;

// Custom descriptions (key terms) the PM messages name.
inline constexpr int kBatchTerm = 1, kGlAccountTerm = 9, kTaxGroupTerm = 37;
inline constexpr int kPropertyTerm = 400, kUnitTerm = 401, kTenantTerm = 402, kLeaseTerm = 403,
                     kRevisionTerm = 404, kMiscIncomeTerm = 411, kSalesCategoryTerm = 414,
                     kChargeTypeTerm = 415, kSfTypeTerm = 417, kCorporationTerm = 426, kOtherTerm = 429;

// The company's accounting method (control definition): 1 accrual only, 2 cash only, 3 both.
// A company whose settings cannot be read counts as using both.
//   601 (charge types, managers): 2 is cash only, any other value accrual.
//   604 (recovery controls): 1 accrual, 2 cash, 3 both.
//   605 and 606 (transactions): 2 leaves the accrual accounts unused, 1 the cash accounts,
//   any other value uses both.
uint16_t PmAccountingMethod();
inline bool UsesAccrualAccounts(uint16_t method) { return method != 2; }
inline bool UsesCashAccounts(uint16_t method) { return method != 1; }

// TAXCTRL of the PM System file's settings header (2): true when it is set, and when the header
// cannot be read.
bool PmUsingTax(uint16_t pms);

// ---- Blank values ---------------------------------------------------------------------------------
// Two texts (keys among them) equal without regard to letter case.
bool EqualNoCase(std::string_view a, std::string_view b);
inline bool IsZero(double number) { return number == 0.0; }
// The field of the buffer by its type: an empty text, a date whose month is 0, a number (or
// choice, or logical) that is 0.
bool IsBlankField(uint16_t file, uint16_t field);

// The charge type that stands for every charge type: the property charge every property with a
// GL prefix gets, and what a charge control, an adjustment basis or a retroactive charge may name
// instead of a charge type on file. Given in any letter case, it is stored in lower case.
inline constexpr const char* kDefaultChargeType = "<default>";
bool IsDefaultChargeType(const std::string& value);

// ---- Labels and value texts -------------------------------------------------------------------------
// Custom description `term`, its first letter in upper case (`capital`), made plural (`plural`).
std::string TermLabel(int term, bool capital = true, bool plural = false);
// A field's description from its definition, its first letter in upper case.
std::string FieldLabel(uint16_t file, uint16_t field);
inline std::string FieldLabel(uint16_t file, uint16_t rec, const char* name) {
    return FieldLabel(file, convert::FieldNo(file, rec, name));
}
// "#400 401#": the property term (capital) and the unit term as fetched, one blank between.
std::string PropertyUnitLabel();
// "#403, 404#": the lease and revision terms, both capitalised, joined by ", ".
std::string LeaseKeyLabel();
// A lease with its revision: "%s(%.0f)".
std::string LeaseKeyText(const std::string& lease, double revision);
// Values as messages show them.
std::string WholeText(double n);                                                     // ids, runs, numbers
inline std::string Millionths(double n) { return convert::FormatNumber("%.6f", n / 1000000.0); }  // percents, occupancy
std::string DateText(const x_date_type& date);                                        // empty for no date
// A choice value as "%s (%.0f)": the item text and the number.
inline std::string ChoiceValueText(uint16_t file, uint16_t field, double item) {
    return convert::ChoiceText(file, field, item, true);
}
// A GL value formatted as its section shows it (6 prefix, 7 base account, 8 whole account).
std::string GlText(const std::string& value, int section);

// A field of a staged record, by name, with its number kept for reads, writes and messages.
struct StagedField {
    uint16_t file, rec, no;
    StagedField(uint16_t f, uint16_t r, const char* name) : file(f), rec(r), no(convert::FieldNo(f, r, name)) {}
    StagedField(uint16_t f, uint16_t r, uint16_t number) : file(f), rec(r), no(number) {}
    // The field `step` steps of `stride` field numbers after this one (a repeated group).
    StagedField(const StagedField& first, int step, int stride)
        : file(first.file), rec(first.rec), no(static_cast<uint16_t>(first.no + step * stride)) {}
    std::string Text() const { return convert::GetText(file, no); }
    double Number() const { return convert::GetNumber(file, no); }
    x_date_type Date() const { return convert::GetDate(file, no); }
    int Result() const;  // a choice's item number, a logical's 1 or 0
    std::string Label() const { return FieldLabel(file, no); }
    bool Blank() const { return IsBlankField(file, no); }
    void Put(const std::string& text) const { convert::PutText(file, no, text); }
    void Put(double number) const { convert::PutNumber(file, no, number); }
    void Put(const x_date_type& date) const { convert::PutDate(file, no, date); }
    void Clear() const;  // blank, zero or no date
};

// A field's value as a note shows it: a text as it stands, a date as date text, a logical as YES
// or NO, a number divided back by its decimals and shown with them.
std::string ShownValue(const StagedField& f);

// The first of a run of fields cleared, which the run's single note names.
struct FirstCleared {
    std::string label, value;
    bool Any() const { return !label.empty(); }
    // Clears `f` when it holds a value, remembering it (under `label`, else its own) when first.
    void Clear(const StagedField& f, const std::string& label = {});
};

// ---- Custom lists -----------------------------------------------------------------------------------
// Custom list `n`: its entries, and its first entry, which is taken out of the entries when the
// list holds two or more (a single entry stays the only value).
struct CustomList {
    int number = 0;
    std::string first;
    std::vector<std::string> values;
    bool loaded = false;

    void Load(int n);
    // The list's spelling of `value` (the first entry equal without regard to case); false, and
    // `value` unchanged, when none is.
    bool Spelling(std::string& value) const;
    // `value` is an entry exactly (letter case included). A value missing from the list, or any
    // value of a list without entries, is noted in the notes report with the line.
    bool Contains(const std::string& value) const;
    bool CheckExact(const std::string& value, convert::NotesReport& notes, uint32_t line) const;
};

// ---- Lookups ------------------------------------------------------------------------------------------
// How a lookup found its record. In Convert a record is found on file; in Examine Files it also
// counts as present when it stood earlier in the text file (its record-ID text is in the map),
// and `value` is what the map keeps with it. A blank key is never found. A lookup works in the
// looked-up record's buffer only; the caller copies `stored` back into its own record when the
// record was on file.
struct Found {
    enum Where { Missing, OnFile, EarlierInText };
    Where where = Missing;
    uint16_t value = 0;
    std::vector<std::string> stored;  // the key texts as stored (on file), else as given
    explicit operator bool() const { return where != Missing; }
};

struct LookupScope {
    const convert::RecordIdMap* ids = nullptr;  // the converter's record-ID map
    bool converting = true;
};

// One key field and its value: texts by text, numbers (revisions, years, sequences) by number.
struct KeyValue {
    const char* field;
    std::string text;
    double number = 0;
    bool isNumber = false;
    KeyValue(const char* f, std::string t) : field(f), text(std::move(t)) {}
    KeyValue(const char* f, double n) : field(f), number(n), isNumber(true) {}
};

// Reads record `rec` of `file` by the key values (buffer cleared first). Not on file: the buffer
// holds the keys again and, in Examine Files, the record-ID map is asked.
// Clears record `rec` of `file` and puts the key values into it.
void PutKeys(uint16_t file, uint16_t rec, const std::vector<KeyValue>& keys);
Found FindRecord(uint16_t file, uint16_t rec, const std::vector<KeyValue>& keys, const LookupScope& scope);

Found FindProperty(uint16_t pmp, const std::string& property, const LookupScope& scope);
Found FindUnit(uint16_t pmp, const std::string& property, const std::string& unit, const LookupScope& scope);
Found FindTenant(uint16_t pmn, const std::string& tenant, const LookupScope& scope);
Found FindLease(uint16_t pml, const std::string& lease, double revision, const LookupScope& scope);
Found FindChargeType(uint16_t pms, const std::string& chargeType, const LookupScope& scope);
Found FindGlAccount(uint16_t glm, const std::string& account, const LookupScope& scope);
Found FindBaseAccount(uint16_t glm, const std::string& base, const LookupScope& scope);
// The prefix by the account format's prefix levels: 1 prefix A, 2 prefix AB, 3 prefix ABC; no
// prefix levels find nothing.
Found FindGlPrefix(uint16_t glm, const std::string& prefix, const LookupScope& scope);
Found FindBank(uint16_t cmm, const std::string& bank, const LookupScope& scope);

// The texts of the shared "does not yet exist" messages, the caller naming the message.
std::string PropertyMissingText(int message, const std::string& property);                         // 12412, 12452
std::string UnitMissingText(int message, const std::string& property, const std::string& unit);    // 12434, 12453
std::string TenantMissingText(int message, const std::string& tenant);                              // 12449
std::string LeaseMissingText(int message, const std::string& lease, double revision);               // 12859

// The custom list of sales types (retail controls and sales-volume transactions).
inline constexpr int kSalesTypeList = 434;

// ---- Formulas ----------------------------------------------------------------------------------------
// Whether a formula of that name (any letter case) exists: the suite's own check.
using suite::FormulaExists;

// ---- Sequence numbers ------------------------------------------------------------------------------
// The next free number (1 to 999) of a numbered detail record: the fields before the number in
// the key are taken from the staged record (`group`, compared without regard to case), the
// number is `numberField`. The last record of the group on file gives the candidate (its number
// + 1; after 999, or none, 1). In Convert a candidate already on file is refused; in Examine
// Files the candidate moves past the numbers of records met earlier in the text file and is
// refused when that reaches 1000. On success the staged record holds the number; on refusal it
// holds the candidate and the caller rejects with its own message.
bool NextSequenceNumber(uint16_t file, uint16_t rec, const std::vector<const char*>& group, const char* numberField,
                        const LookupScope& scope, double& number);

// ---- Closing notes -----------------------------------------------------------------------------------
// Notes printed after the records, without record name or line; an empty line before the first.
class ClosingNotes {
public:
    explicit ClosingNotes(convert::NotesReport& notes) : notes_(notes) {}
    bool Add(const std::string& text);
    bool Started() const { return started_; }

private:
    convert::NotesReport& notes_;
    bool started_ = false;
};

// ---- The PM converters' base ----------------------------------------------------------------------------
class PmConverter : public convert::xvConvert {
protected:
    // Progress of one pass after the record loop: every 15th item shows the status text and the
    // position (items done × 100 / total) and, in the background, checks for a stop and updates
    // the task line. A stop ends the file: every backed-up file restored, 12000 printed once,
    // one more warning/log message when `countStop`. False then; the caller's FinishConversion
    // returns false, so nothing is stamped or committed.
    class PassProgress {
    public:
        PassProgress(PmConverter& converter, convert::ConvertContext& ctx, std::size_t total, std::string statusText,
                     std::string taskText, bool countStop)
            : converter_(converter), ctx_(ctx), total_(total), status_(std::move(statusText)),
              task_(std::move(taskText)), countStop_(countStop) {}
        // One more item handled; false when the run was stopped (the file has been ended).
        bool Step();
        // Shows `position` (asked only when shown) instead of items done against the total.
        void PositionFrom(std::function<int()> position) { position_ = std::move(position); }

    private:
        PmConverter& converter_;
        convert::ConvertContext& ctx_;
        std::size_t total_;
        std::size_t done_ = 0;
        int sinceReport_ = 0;
        std::string status_, task_;
        bool countStop_;
        std::function<int()> position_;
    };

    // After the last pass: the empty status line, then in the background the stop check and the
    // task line at 100 with `taskText`. False when the run was stopped (the file has been ended).
    bool FinishPasses(convert::ConvertContext& ctx, const std::string& taskText);
    // Ends the file for a stop seen after the records: 12000, every backed-up file restored.
    bool EndStoppedPass(convert::ConvertContext& ctx, bool countMessage);

    friend class PassProgress;
};

}  // namespace dz::pm
