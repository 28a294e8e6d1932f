// The PM property and system converter (conversion type 601): one text file of property records
// (properties and their detail records, late charges, units, unit SF types, lease units, misc
// income sources, unit lease and occupancy history) and PM system records (charge types,
// interest rates, managers/brokers), examined or converted into the PM property file ("PMP") and
// the PM system file ("PMS"), checked against the GL and CM master files. A charge type or
// manager already on file (or, examining, met earlier) is dropped with a closing note; a charge
// type on file takes the blank fields the repeated one fills. After the records, Convert adds a
// default charge record for every property with a GL prefix, corrects or notes the unit counts
// of the properties and notes units whose flags differ from their history.
//
//   xvpmp.cpp          the frame: files, settings, dispatch, what is kept per record
//   xvpmp_system.cpp   the PM system records and their repeats
//   xvpmp_records.cpp  late charges, units, unit history, checklist items, misc income sources
//   xvpmp_property.cpp the property record, its fiscal dates, its bank's PM cash account, deposits
//   xvpmp_details.cpp  PA, charge, tax, insurance, SF-type and occupancy records
//   xvpmp_finish.cpp   the passes after the records
#pragma once

#include "convert/side_file.h"
#include "converters/pm/pm_shared.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dz::xvl {
class xvlImpInfo;
class xvlImport;
}

namespace dz::pm {

// Record numbers of the PM property file this conversion takes ...
inline constexpr uint16_t kPmpProperty = 1, kPmpPropertyPA = 3, kPmpPropertyCharge = 5, kPmpLateCharge = 6,
                          kPmpDeposit = 7, kPmpSfType = 8, kPmpMonthlyOccupancy = 9, kPmpCalYearOccupancy = 10,
                          kPmpFiscalYearOccupancy = 11, kPmpChecklistItem = 12, kPmpPropertyTax = 13,
                          kPmpInsurance = 15, kPmpUnitRecord = 17, kPmpUnitSfType = 19, kPmpLeaseUnit = 20,
                          kPmpMiscIncomeSource = 21, kPmpUnitLeaseHistory = 25, kPmpUnitOccupancyHistory = 26;
// ... and of the PM system file.
inline constexpr uint16_t kPmsChargeType = 1, kPmsInterestRate = 2, kPmsManager = 4;

// The property converter's custom lists.
inline constexpr int kPropertyTypeList = 418, kPaTypeList = 420, kUnitClassList = 419;

// A PM cash account for a CM bank, decided while its property is checked.
struct PendingBank {
    bool pending = false;
    bool create = false;      // no bank record yet: a new one (else the one on file is completed)
    bool pmFields = false;    // completed in its PM cash fields (else its general cash account)
    std::string bank;         // POPBANK as given
    std::string id;           // the bank record's record-ID text
    std::string account;      // the account as the GL master file holds it
    std::string description;  // a new bank's BDESC
};

// What a text file asks of the GL and CM master files again and again, answered once: a million
// properties name a few prefixes, calendar dates and banks. This conversion never writes the GL
// master file; a bank it writes is forgotten, so that it is read again.
struct OnFileAnswers {
    struct Calendar {
        bool ok = false, thirteen = false;
        x_date_type periodEnd, fiscalEnd;
    };
    struct Bank {
        bool found = false;
        bool pmFields = false;  // PM cash fields (else the general cash account)
        bool pmValid = false;   // BPMVALD
        std::string stored, cash, id;
    };
    std::unordered_map<std::string, std::string> prefixes;  // as given -> as stored, "" none
    std::map<std::string, Calendar> calendar;               // prefix, tab, date -> the answer
    std::unordered_map<std::string, Bank> banks;            // as given
};

// Every property of the text file that has a GL prefix, by its record-ID text (without regard
// to letter case): its prefix and period ending date, the first given kept. A million
// properties are a million short entries in one block, naming a handful of prefixes, so each
// prefix is kept once.
class KeptProperties {
public:
    // False, and nothing kept, when the property is there already.
    bool Add(std::string_view id, const std::string& prefix, const x_date_type& periodEnd);
    // False when the property is not there.
    bool Find(std::string_view id, std::string* prefix, x_date_type* periodEnd) const;
    std::size_t size() const { return count_; }
    // `f(id, prefix)` for every property, in the order they were added.
    template <typename F>
    void ForEach(F&& f) const {
        for (std::size_t at = 0; at < block_.size();) {
            const Entry e = At(at);
            f(e.id, prefixes_[e.prefix]);
            at = e.next;
        }
    }

private:
    struct Entry {
        std::string_view id;
        uint32_t prefix;
        x_date_type periodEnd;
        std::size_t next;
    };
    Entry At(std::size_t offset) const;
    std::size_t Slot(std::string_view id) const;  // its slot, or the empty one it would take
    void Grow();

    std::string block_;            // each entry: the id, a NUL, the prefix's number, the date
    std::vector<uint32_t> slots_;  // offset + 1 of an entry in block_; 0 empty
    std::size_t count_ = 0;
    std::vector<std::string> prefixes_;
    std::unordered_map<std::string, uint32_t> prefixNumbers_;
};

// What the converter keeps for one text file, which the handlers read and the passes after the
// records use.
struct PmpState {
    uint16_t accountingMethod = 3;  // 2 cash only; anything else accrual
    CustomList propertyTypes, sfTypes, paTypes, depositTypes, insuranceTypes, unitClasses;
    std::string defaultSfType;  // list 417's first value as read
    // The first charge type and manager dropped as repeats, named by the closing notes.
    std::string duplicateManagerExample, duplicateChargeTypeExample;
    // The properties with a GL prefix: their prefix and period ending date.
    KeptProperties properties;
    std::set<std::string> interestRateIds;  // capitalised
    // Convert: "PROPERTY\tUNIT" in upper case of every unit and unit history kept, in the order
    // kept (sorted and made unique by the pass that reads them: a million units are a million
    // short texts, not a million tree nodes).
    std::vector<std::string> convertedUnitKeys;
    // Beside convertedUnitKeys once sorted: the unit's UOCC and ULESED results as the unit-count
    // pass met the unit on file, for the history pass; -1 where that pass did not meet it.
    std::vector<std::pair<int, int>> convertedUnitFlags;
    // Convert: "PROPERTY" in upper case of every property record written listing no units,
    // occupied or leased units (sorted by the unit-count pass). While no line replaced a property
    // (propertyReplaced), each was written once and lists none still: the pass reads it only
    // when it has units.
    std::vector<std::string> propertiesListingNoUnits;
    bool propertyReplaced = false;
    // Convert: the properties of the property and unit records kept, as read, in the order kept
    // with a repeat of the one before left out (sorted and made unique by the pass that reads
    // them).
    std::vector<std::string> convertedProperties;
    // Properties found on file, as given -> as stored: a text file of many units names each
    // property again and again, and nothing this conversion does takes a property off file.
    std::unordered_map<std::string, std::string> propertiesOnFile;
    // Examine Files: the record-ID text of every CM bank the examination would have written or
    // completed -> the PM cash account it would have given it.
    std::map<std::string, std::string> pmCashBanks;
    // The CM bank record the property being handled gives a PM cash account. It is written
    // (Convert) or recorded (Examine Files) only once the property itself was kept, so a
    // property refused later (a duplicate key) leaves the CM master file as it was.
    PendingBank pendingBank;
    OnFileAnswers answers;
};

// The files, mode and state a handler works with. Every handler works on the record the import
// staged in its file's buffer; it writes nothing.
struct PmpRecordContext {
    uint16_t pmp = 0, pms = 0, glm = 0;
    uint16_t cmm = 0, apm = 0, txm = 0;  // apm, txm 0 when not open
    bool converting = true;
    bool usingTax = true, cmMultipleCash = false;
    // The import reading the text file and the record's format (special values, fields given).
    const xvl::xvlImport* import = nullptr;
    std::string formatId;
    const convert::RecordIdMap* ids = nullptr;  // the records met so far in the text file
    PmpState* state = nullptr;
    LookupScope Scope() const { return {ids, converting}; }
};

// ---- Record handlers: true accepts, false rejects with `reason` set; warnings go to `messages` --
// PM system records.
bool ConvertChargeType(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertInterestRate(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertManagerBroker(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
// PM property records.
bool ConvertPropertyLateCharge(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertUnit(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertUnitSfType(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertLeaseUnit(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertUnitLeaseHistory(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertUnitOccupancyHistory(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertPropertyChecklistItem(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertMiscIncomeSource(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertProperty(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertPropertyPA(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertPropertyCharge(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertPropertyTax(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertPropertyInsurance(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertPropertyDeposit(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertPropertySfType(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertMonthlyOccupancy(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertCalYearOccupancy(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);
bool ConvertFiscalYearOccupancy(const PmpRecordContext& c, std::string& reason, convert::MessageList& messages);

// The PM cash account of the staged property's bank (POPBANK): the bank's own, or the format's
// special value "PM Cash Account" checked against the GL accounts, which the bank is then to
// receive (state->pendingBank; examining, also a bank this text file gave one earlier). False
// rejects with `reason`. `cashAccount` is empty when the bank has none.
bool ValidatePMCashAccount(const PmpRecordContext& c, std::string& reason, std::string& cashAccount);
// The end of the fiscal period and of the fiscal year that hold `date` in the GL fiscal
// calendar of `prefix`. False when the calendar cannot be reached; an empty prefix is true with
// both dates none; a date the calendar does not hold leaves its end none.
bool GetFiscalCalendarDates(uint16_t glm, const std::string& prefix, const x_date_type& date, x_date_type& periodEnd,
                            x_date_type& fiscalEnd);

// The GL prefix as stored, by the account format's prefix levels; false when it is not on file.
// A format of no prefix levels looks nothing up: true, as given.
bool StoredGlPrefix(const PmpRecordContext& c, const std::string& prefix, std::string& stored);
// GetFiscalCalendarDates, asked once per prefix and date.
bool FiscalDates(const PmpRecordContext& c, const std::string& prefix, const x_date_type& date, x_date_type& periodEnd,
                 x_date_type& fiscalEnd);
// The CM bank record of `bank` as this text file last read it.
const OnFileAnswers::Bank& BankOnFile(const PmpRecordContext& c, const std::string& bank);

// Writes (Convert) the bank record `bank` describes: a new one, or the one on file completed.
// The write's status.
int WritePendingBank(uint16_t cmm, const PendingBank& bank);
// The GL prefix of a property: on file, else (a property met earlier in the text file) the one
// the text file gave it; empty when neither has one.
std::string PropertyPrefix(const PmpRecordContext& c, const std::string& property);
// The record-ID text of the property record of `property` (the record's buffer receives it).
std::string PropertyIdText(uint16_t pmp, const std::string& property);

// ---- Steps the property file's handlers share ------------------------------------------------------------
// The record's property (its first key field) is required: 12380.
bool RequireKey(const StagedField& property, std::string& reason);
// Further fields are required, in order: 12381 naming the first blank one.
bool RequireFields(std::initializer_list<const StagedField*> fields, const StagedField& property, std::string& reason);
// The property on file takes its stored spelling; examining, one met earlier in the text file is
// taken as given. Otherwise 12412.
bool PropertyStep(const PmpRecordContext& c, const StagedField& property, std::string& reason);
// The three in turn: the usual start of a record below a property.
bool RequirePropertyLink(const PmpRecordContext& c, const StagedField& property,
                         std::initializer_list<const StagedField*> fields, std::string& reason);

// Whether the record the import staged is a charge type or manager/broker already on file (or,
// examining, met earlier in the text file): false drops it, keeping the first of its kind as the
// closing notes' example. Converting, a charge type on file first takes the repeat's charge and
// payment references and (when the base account is on file) GL base accounts into its blank
// fields.
bool HandleDuplicateSystemRecord(const PmpRecordContext& c, const xvl::xvlImpInfo& info);
// The closing notes of the dropped repeats (12437, 12436). False when a line could not be printed.
bool ReportDuplicateRecords(const PmpState& state, convert::NotesReport& notes, convert::ConvertProgress* progress,
                            bool converting);
// The value an examined record keeps in the record-ID map: a property's occupancy tracking (ten
// times the calendar-year flag plus the fiscal-year flag), a property SF type's tracking flag,
// else 0.
uint16_t OccupancyTrackingFieldResult(const xvl::xvlImpInfo& info, uint16_t pmp);

class xvPMP : public PmConverter {
public:
    // PMP and PMS written (backed up, restored together), GLM and CM read. They are asked for
    // in the order PMS, PMP, CMM, GLM.
    convert::ConverterProfile Profile() const override;
    // GL not installed: 9844 with a "GLM" entry of file number 0; CM not installed: 9845 with a
    // "CMM" one. Else the profile's files.
    bool OpenFiles(convert::OpenFilesList& list, uint16_t commandId, uint16_t& error) override;

    // The passes after the records (Convert). Each returns false when it ended the file itself:
    // stopped (12000), or a write failed (12011); both data files are then restored.
    bool CreateDefaultChargeRecords(convert::ConvertContext& ctx);
    bool CheckPropertyUnitCounts(convert::ConvertContext& ctx);
    bool CheckUnitHistory(convert::ConvertContext& ctx);

protected:
    // The accounting method, the custom lists, the tax and multiple-cash settings and, where they
    // apply, the AP master and tax files.
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // Drops a repeated charge type or manager before it is counted.
    bool CountRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, int status) override;
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    uint16_t ExamineValue(convert::ConvertContext& ctx, const xvl::xvlImpInfo& info) override;
    // The custom-list notes, then what the passes after the records and later handlers read.
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override;
    // The missing custom-list values and the dropped repeats; converting, the three passes.
    bool FinishConversion(convert::ConvertContext& ctx) override;

private:
    PmpRecordContext Context(const convert::ConvertContext& ctx, const xvl::xvlImpInfo* info);
    // The bank record the property just kept gives a PM cash account: written (Convert; a write
    // that fails ends the file, every data file restored) or recorded for later lines (Examine
    // Files), and counted in the record totals. False when the file was ended.
    bool KeepPendingBank(convert::ConvertContext& ctx);

    PmpState state_;
    uint16_t pmp_ = 0, pms_ = 0, glm_ = 0, cmm_ = 0;
    convert::SideFile apm_, txm_;  // AP master (PM creates AP entries) and tax (using tax) files
    bool createApEntries_ = false, usingTax_ = true, cmMultipleCash_ = false;
};

}  // namespace dz::pm
