// The PM recovery converter (conversion type 604): recovery controls of properties (record 1)
// and of lease recurring charges (record 4), their expense-category controls (records 2 and 5)
// and the concession periods of lease recoveries (record 6), examined or converted into the PM
// recovery file ("PMV", file number 1), checked against the PM system, property and lease files
// and the GL master file.
//
//   xvpmv.cpp             the frame: files, settings, dispatch, the recovery-flags word, the
//                         checks every handler shares
//   xvpmv_records.cpp     the property recovery control and the lease recovery control
//   xvpmv_escalation.cpp  the escalation and administrative-fee groups of the lease recovery
//                         control, and the budget types they may use
//   xvpmv_categories.cpp  the expense-category controls and concession periods
//   xvpmv_sftype.cpp      the unit SF type lookup
//   xvpmv_stops.cpp       the accumulated amounts, stops and caps of record 4, the recovery grid
#pragma once

#include "converters/pm/pm_shared.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace dz::xvl {
class xvlImpInfo;
class xvlImport;
}  // namespace dz::xvl

namespace dz::pm {

// PM recovery record numbers.
inline constexpr uint16_t kPmvPropertyControl = 1, kPmvPropertyCategory = 2, kPmvRecoveryControl = 4,
                          kPmvLeaseCategory = 5, kPmvConcession = 6;
inline constexpr uint16_t kPmvCode = 60;

// The unit SF type record of `property`, `unit` and `sfType` (PM property file `pmp`): the first
// record at or after that key, found only when its property, unit and SF type all equal the
// ones sought without regard to letter case. When found, `sfType` takes the stored spelling.
// The record buffer of `pmp` is scratch space.
bool FindUnitSfType(uint16_t pmp, const std::string& property, const std::string& unit, std::string& sfType);

// A GL account range runs backwards when the first account is longer than the last, or as long
// and after it, letters compared without regard to case.
bool AccountRangeReversed(const std::string& from, const std::string& to);

// (value >> shift) & (2^width - 1): one flag of a recovery-flags word with width 1.
uint16_t ExtractBits(uint16_t value, uint16_t shift, uint16_t width);

// The months from `from` to `to`: a count that starts at 1 and grows by one each time `from`
// moves one month on (at a month end it keeps to the last day of a shorter month) while it is
// still before `to`. Equal dates count 1; 1 January to 31 December counts 13. The count stops
// growing past `limit`, which is all a caller comparing with a frequency needs.
int RecoveryMonthCount(x_date_type from, const x_date_type& to, int limit = 100000);

// Whether `date` is a date on which a recovery period of `months` months starts (or ends) when
// one starts (or ends) on `anchor`: from the anchor, steps of `months` months towards the date,
// each from the one before, until the date is reached or passed; on the grid when reached. The
// anchor itself is on its grid. A step keeps to the last day of a shorter month, and the next
// step goes on from that day: from 31 January by one month, 28 February, then 28 March.
bool OnRecoveryGrid(const x_date_type& date, x_date_type anchor, int months);

// Record `rec` of `file` read by `keys` as a lookup on file finds it (FindRecord in Convert):
// never found for file 0, no keys or a blank text key (the buffer left alone); found, the buffer
// holds the record; not found, the buffer holds the keys again. Only the answer is given.
bool ReadOnFile(uint16_t file, uint16_t rec, const std::vector<KeyValue>& keys);

// The checks of one record, shared by every handler: reject, note, the Convert/Examine wording,
// a not-supported field, a group whose marking field is not marked, and the texts of values.
class RecordChecks {
public:
    RecordChecks(uint16_t file, uint16_t rec, std::string& reason, convert::MessageList& messages, bool converting)
        : file_(file), rec_(rec), reason_(reason), messages_(messages), converting_(converting) {}

    // FieldNo keeps the numbers of literal names by their address: asking on every record is cheap.
    uint16_t No(const char* name) const { return convert::FieldNo(file_, rec_, name); }
    std::string Text(const char* name) const { return convert::GetText(file_, No(name)); }
    double Number(const char* name) const { return convert::GetNumber(file_, No(name)); }
    x_date_type Date(const char* name) const { return convert::GetDate(file_, No(name)); }
    int Result(const char* name) const;  // a choice's item number, a marking field's code
    std::string Label(const char* name) const { return FieldLabel(file_, No(name)); }
    bool Blank(uint16_t field) const { return IsBlankField(file_, field); }

    // The reject reason is `text`; false.
    bool Reject(std::string text) const;
    void Note(std::string text) const { messages_.push_back(std::move(text)); }
    // The mode's half of "was/will be" and the mode's number of a pair.
    std::string Word(const char* pair) const { return convert::ModeWord(pair, converting_); }
    std::string Number(int convertNo, int examineNo) const { return std::to_string(converting_ ? convertNo : examineNo); }

    // A field's value as a note shows it: a text as it stands, a date as its date text, a
    // logical as "TRUE", a choice as "item(n)", a number divided back by its decimals.
    std::string ValueText(uint16_t field) const;
    // A field that conversion does not carry: when it holds a value, note `message` (label,
    // value, "was/will be", the mode's number) and clear it.
    void NotSupported(const char* name, const std::string& label, int message, int convertNo, int examineNo) const;

    // The fields of a group that is not marked, cleared in order; one note names the first.
    struct GroupField {
        const char* name;
        std::string label;
        double cleared = 0;  // the value of an unset field (a choice's is 1)
    };
    // Clears every field of `fields` that holds a value; when any did, notes `message` with the
    // first one's label and value, "were/will be" and the mode's number.
    void ClearGroup(std::initializer_list<GroupField> fields, int message, int convertNo, int examineNo) const;

    // Reads record `rec` of `other` by `keys`; when found, copies the stored keys back into the
    // fields of this record named in `into` (in the keys' order) and answers true.
    bool LookupCopyBack(uint16_t other, uint16_t rec, const std::vector<KeyValue>& keys,
                        std::initializer_list<const char*> into) const;

    bool converting() const { return converting_; }
    uint16_t file() const { return file_; }

private:
    uint16_t file_, rec_;
    std::string& reason_;
    convert::MessageList& messages_;
    bool converting_;
};

// Answers that many records of one text file share, kept until the next text file. Calculation
// methods and charge types (PM system file) and unit SF types (PM property file) come from files
// this conversion only reads. The property recovery controls come from the recovery file, which
// it writes: a property recovery control line drops them all, since it may create or replace one
// (and Examine Files then finds it in the record-ID map), so each is asked again.
struct RecoveryAnswers {
    // A record of the PM system file looked up by its one key field.
    struct Setup {
        bool onFile = false;
        std::string stored;  // the key as stored
        int type = 0;        // a calculation method's type
    };
    // A property recovery control: found (on file or, in Examine Files, earlier in the text
    // file), and its recovery-flags word.
    struct Control {
        bool found = false;
        uint16_t word = 0;
    };
    std::unordered_map<std::string, Setup> setup;                            // by file, record, key
    std::unordered_map<std::string, std::optional<std::string>> unitSfTypes;  // by property, unit, SF type
    std::unordered_map<std::string, Control> controls;                       // by property, charge type

    void Clear() {
        setup.clear();
        unitSfTypes.clear();
        controls.clear();
    }
};

// An SF type of `property` named by the field `name` of the record `r` checks: PM property
// record 8 must exist (12633) and, when `tracking`, track occupancy (12654); the stored spelling
// is copied back.
bool CheckSfType(const RecordChecks& r, uint16_t pmp, const std::string& property, const char* name, bool tracking);

// A calculation method named by the field `name`: on file (12637) and of the recoverable-expense
// type (12636), `label` naming the field; the stored spelling replaces the given one. With
// `answers` each value is looked up once.
bool CheckCalcMethod(const RecordChecks& r, uint16_t pms, const char* name, std::string_view label,
                     RecoveryAnswers* answers = nullptr);
// A charge type named by the field `name`: on file (12638); the stored spelling is copied back.
bool CheckChargeType(const RecordChecks& r, uint16_t pms, const char* name, std::string_view label,
                     RecoveryAnswers* answers = nullptr);

// The record `rec` of the recovery file, keyed by `keys`, that the record `r` checks depends on.
// Examine Files asks the record-ID map first: a line earlier in the text file that creates or
// replaces the record left its recovery-flags word there, and Convert would read what that line
// wrote, so Examine Files predicts Convert. Otherwise the record on file counts, its stored keys
// copied back into the fields `into` of `r`'s record and its recovery-flags word read from it.
// `word` receives the word; found or not, the record-`rec` buffer holds the keys sought.
bool FindRecoveryRecord(const RecordChecks& r, uint16_t rec, const std::vector<KeyValue>& keys,
                        std::initializer_list<const char*> into, const convert::RecordIdMap& ids, uint16_t& word);

// The lease of the lease recovery control `r` checks (PM lease file `pml`, record 1): read the
// first time one of the record's rules asks for its property, then kept for the record, so the
// budget types, the stops and caps and the occupancy SF type read it once between them.
class RecoveryLease {
public:
    RecoveryLease(const RecordChecks& r, uint16_t pml) : r_(r), pml_(pml) {}
    // The lease's property; null when the lease is not on file, the record rejected (12661).
    const std::string* Property();

private:
    const RecordChecks& r_;
    uint16_t pml_;
    enum { kUnread, kOnFile, kMissing } state_ = kUnread;
    std::string property_;
};

// The accumulated amounts, stops and caps of the lease recovery control in `r`'s record: the
// amounts cleared with notes; per side (stop, then cap) the fields its method leaves unused
// cleared, a required SF type, an SF type one of the unit's (the property of `lease`, property
// file `pmp`, the stored spelling copied back), and a period that makes up its frequency and
// lies on the recovery's periods. With `answers` each unit SF type is looked up once. False
// rejects the record.
bool CheckStopsAndCaps(const RecordChecks& r, RecoveryLease& lease, uint16_t pmp, RecoveryAnswers* answers = nullptr);

// The key of the lease recovery control `r` checks, as messages name it: lease, revision, charge
// type and unit joined by ", ".
std::string RecoveryKey(const RecordChecks& r);

class xvPMV : public PmConverter {
public:
    convert::ConverterProfile Profile() const override;
    bool OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) override;

    // The recovery-flags word of the record in the PM recovery file's buffer: record 1 the ten
    // use-budget-type flags (bit i for PRCB(i+1)); record 4 the result of RCFEE; else 0.
    static uint16_t GetRecoveryFlags(const xvl::xvlImpInfo& info, uint16_t pmv);
    // The same word of the record `rec` now in the recovery file's buffer of that record.
    static uint16_t RecoveryFlags(uint16_t pmv, uint16_t rec);

    // ---- Record handlers: true keeps the record, false rejects it with `reason` set ------------
    // They check the record the import staged in the recovery file's buffer and write nothing.
    bool ConvertPropertyRecoveryControl(uint16_t pmv, uint16_t pmp, uint16_t pms, const xvl::xvlImpInfo& info,
                                        std::string& reason, convert::MessageList& messages, bool converting,
                                        const xvl::xvlImport& import) const;
    // Its escalation and fee budget types are checked against the property recovery control,
    // which Examine Files finds through `ids` when an earlier line of the text file creates it.
    bool ConvertRecoveryControl(uint16_t pmv, uint16_t pml, uint16_t pms, uint16_t pmp, std::string& reason,
                                convert::MessageList& messages, const convert::RecordIdMap& ids,
                                bool converting) const;
    // The records that belong to a recovery control: in Convert the control must be on file (its
    // stored keys are copied back); in Examine Files a control an earlier line of the text file
    // creates or replaces counts first, with the word the record-ID map keeps for it.
    bool ConvertPropertyExpenseCategory(uint16_t pmv, uint16_t pmp, std::string& reason,
                                        convert::MessageList& messages, const convert::RecordIdMap& ids,
                                        bool converting) const;
    bool ConvertLeaseExpenseCategory(uint16_t pmv, uint16_t pml, uint16_t pmp, std::string& reason,
                                     convert::MessageList& messages, const convert::RecordIdMap& ids,
                                     bool converting) const;
    bool ConvertConcessionPeriod(uint16_t pmv, std::string& reason, convert::MessageList& messages,
                                 const convert::RecordIdMap& ids, bool converting) const;

    // 1 accrual, 2 cash, 3 both (the company's accounting method).
    void SetAccountingMethod(uint16_t method) { accountingMethod_ = method; }

protected:
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    uint16_t ExamineValue(convert::ConvertContext& ctx, const xvl::xvlImpInfo& info) override;

private:
    // Groups of the lease recovery control `r` checks: true goes on to the next group, false
    // rejects the record (the reason set). Both leave the fields they clear or respell changed.
    bool ConvertEscalation(const RecordChecks& r, RecoveryLease& lease, uint16_t pml, uint16_t pms,
                           const convert::RecordIdMap& ids) const;
    bool ConvertAdministrativeFee(const RecordChecks& r, RecoveryLease& lease, uint16_t pms,
                                  const convert::RecordIdMap& ids) const;
    // Budget type `type` of the escalation or the fee: 1 to 10 (12644, `rangeWord`), and one the
    // property recovery control of the lease's property and charge type uses: the lease on file
    // (12661), the control found (12666), its use-budget-type flag marked (12667), `word` naming
    // the group in the last two. Examine Files asks the record-ID map before the file.
    bool CheckRecoveryBudgetType(const RecordChecks& r, RecoveryLease& lease, const convert::RecordIdMap& ids,
                                 double type, const char* rangeWord, const char* word) const;

    // A recovery frequency holds whole months; the text file may give a fraction, which reaches
    // the conversion as read and is refused here, shown as it was given and placed in its line
    // as the import places what it refuses.
    bool WholeMonths(const RecordChecks& r, const char* field) const;

    uint16_t pms_ = 0, pml_ = 0, pmp_ = 0, glm_ = 0;
    uint16_t accountingMethod_ = 0;
    const xvl::xvlImport* import_ = nullptr;  // the import and format of the line being handled
    std::string formatId_;
    mutable RecoveryAnswers answers_;  // of the text file being read
};

}  // namespace dz::pm
