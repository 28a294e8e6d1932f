// The JC master converter (conversion type 202): jobs, extras, cost codes (phases) and
// categories of a JC master text file, examined or converted into the JC master data file
// ("JCM", file number 1). A phase also gets the group phases above it that are missing.
//
// The class is split over several sources:
//   xvjcm.cpp            the frame: files, settings, the job-extra split, dispatch, the
//                        tax-status notes, prefill
//   xvjcm_job.cpp        jobs and extras
//   xvjcm_phase.cpp      phases and the group phases they need
//   xvjcm_category.cpp   categories
// jcm_fields.h holds the small field and message helpers they share.
//
// The handlers change the record in the JC master buffer and answer whether it may be written;
// the common record loop writes it (Convert) or examines it (Examine Files). They write nothing
// themselves, except the group phases and the extra handler's mark on its job.
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/lookups.h"
#include "convert/side_file.h"
#include "convert/reports.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace dz::xvl {
class xvlImport;
class xvlImpInfo;
}  // namespace dz::xvl

namespace dz::jc {

struct JCTotalsContext;
using RecordIdMap = convert::RecordIdMap;

// Runs of consecutive fields, first and last.
using FieldRange = std::pair<uint16_t, uint16_t>;
using FieldRanges = std::vector<FieldRange>;

// The fields of some ranges that a line may hold anything but 0 in, worked out once per list and
// format. A line of a format that adds records starts from the dictionary's defaults (the
// conversion clears the buffer for every line) and gets the values of its format's columns; the
// handlers write nothing into these ranges before they clear them. So a number field that the
// format has no column for and whose default is 0 holds 0 there and need not be looked at. The
// lines of a format that modifies records or starts from the stored one keep the whole ranges.
class LineRanges {
public:
    static constexpr int kLists = 8;
    // The fields of `ranges` (list `list`, 0 to kLists - 1, always the same ranges) that the line
    // in `info` may hold anything but 0 in, as ranges in the same order.
    const FieldRanges& Narrow(int list, uint16_t jcm, const xvl::xvlImport& import, const xvl::xvlImpInfo& info,
                              std::initializer_list<FieldRange> ranges) {
        return Narrow(list, jcm, import, info, ranges.begin(), ranges.end());
    }
    const FieldRanges& Narrow(int list, uint16_t jcm, const xvl::xvlImport& import, const xvl::xvlImpInfo& info,
                              const FieldRanges& ranges) {
        return Narrow(list, jcm, import, info, ranges.data(), ranges.data() + ranges.size());
    }
    // For a new text file.
    void Clear() { lists_ = {}; }

private:
    const FieldRanges& Narrow(int list, uint16_t jcm, const xvl::xvlImport& import, const xvl::xvlImpInfo& info,
                              const FieldRange* from, const FieldRange* to);
    struct List {
        bool known = false;
        uint16_t jcm = 0;
        std::string format;
        FieldRanges ranges;
    };
    std::array<List, kLists> lists_;
};

// A cost code's group level and sections, kept for the cost codes of one text file: the same
// codes come back job after job. At most kKept are kept; then they are forgotten all at once.
class CostCodeMemo {
public:
    static constexpr std::size_t kKept = 1u << 16;
    struct Split {
        bool group = false;   // a group phase
        uint16_t level = 0;   // its group level as the JC module gives it
        std::vector<std::string> sections;  // sections 1 to n (when n is 2 or more)
        // When n is 2 or more: which sections are zero or blank (bit k - 1 for section k),
        // whether they keep the zero-section rule (ZeroSectionsValid), whether the last one is
        // zero, and how many non-zero sections lead.
        unsigned zero = 0;
        bool valid = true;
        bool lastZero = false;
        int leading = 0;
        // The number ZeroPhases gave the cost code, while its answers are those of `zeroEpoch`
        // (0: not known yet).
        mutable uint32_t zeroNumber = 0;
        mutable uint64_t zeroEpoch = 0;
    };
    // The answers for `code` when the cost codes have `n` sections. An answer stays where it is
    // until the answers are dropped (Generation changes).
    const Split& Of(const std::string& code, int n);
    void Clear() {
        known_.clear();
        n_ = -1;
        ++generation_;
    }
    uint64_t Generation() const { return generation_; }

private:
    std::unordered_map<std::string, Split> known_;
    int n_ = -1;
    uint64_t generation_ = 0;
};

// The cost codes a Convert wrote with every amount the totals rebuild looks at 0, the last write
// of each counting: the rebuild need not read their amounts. Jobs (with their extras) and cost
// codes are numbered as they come, so that a write takes a few bytes; past kMaxNames of either,
// no more are noted, and those cost codes are read.
class ZeroPhases {
public:
    static constexpr std::size_t kMaxNames = 1u << 18;
    void Written(const std::string& job, const std::string& extra, const std::string& code, bool zero);
    // The same, for a cost code whose number the caller may keep: `number` and `epoch` hold it as
    // an earlier call gave it, or 0, and receive it once it is known.
    void Written(const std::string& job, const std::string& extra, const std::string& code, bool zero,
                 uint32_t& number, uint64_t& epoch);
    // After the last write, before the first question.
    void Seal();
    // Whether the cost code (its key as stored) was last written with its amounts 0.
    bool Zero(const std::string& job, const std::string& extra, const std::string& code) const;
    // The cost code was written again after the seal (the rebuild): it no longer counts as 0.
    void Drop(const std::string& job, const std::string& extra, const std::string& code);
    // Whether any was (sealed).
    bool Any() const { return !zero_.empty(); }
    void Clear();

private:
    uint32_t Name(std::unordered_map<std::string, uint32_t>& names, const std::string& text, bool add);
    // The number of a job and extra (0 when not named and `add` is false, or past the limit);
    // the last one named is kept, as the cost codes of one job come together.
    uint32_t JobNumber(const std::string& job, const std::string& extra, bool add) const;
    mutable std::unordered_map<std::string, uint32_t> jobs_;
    std::unordered_map<std::string, uint32_t> codes_;
    mutable std::string lastJob_, lastExtra_;
    mutable uint32_t lastJobNumber_ = 0;
    // The cost code noted last (a line is noted before its write and at it).
    std::string lastCode_;
    uint32_t lastCodeNumber_ = 0;
    std::vector<uint64_t> writes_;  // zero flag (top bit), job number, code number; as written
    std::vector<uint64_t> zero_;    // sealed: the job and code numbers of the zero ones, sorted
    // The part of zero_ of the job asked about last: the questions come job by job.
    mutable uint32_t zeroJob_ = 0;
    mutable std::size_t zeroFrom_ = 0, zeroTo_ = 0;
    std::unordered_set<uint64_t> dropped_;  // of those, the ones written again since
    mutable std::string key_;
    // Changes whenever the numbers are forgotten (never 0).
    uint64_t epoch_ = 1;
    void Note(uint32_t job, uint32_t code, bool zero);
};

// The cost-code amounts the totals rebuild reads or sets (data-file numbers, ascending).
std::vector<uint16_t> PhaseRebuildAmounts(uint16_t jcm);

// JC master record numbers.
inline constexpr uint16_t kRecJob = 1;
inline constexpr uint16_t kRecExtra = 2;
inline constexpr uint16_t kRecPhase = 3;
inline constexpr uint16_t kRecCategory = 4;
inline constexpr uint16_t kRecStdPhase = 16;
inline constexpr uint16_t kRecStdCategory = 17;
// The header of the JC settings.
inline constexpr uint16_t kHdrSettings = 2;

// How many cost-code fields the phase handler resolves by name.
inline constexpr std::size_t kPhaseFieldCount = 56;

// The conversion type's name in 12070.
inline constexpr const char* kJcmConversionName = "JC Job thru JC Category";

// One run of consecutive fields copied from the job record to the extra record.
struct FieldRun {
    const char* jobFirst;
    const char* jobLast;
    const char* extraFirst;
    const char* extraLast;
};
// The five runs a job record gives an extra made from it by a job substitution.
extern const std::array<FieldRun, 5> kJobToExtraRuns;

// Copies `runs` of the job buffer into the extra buffer, field for field. False, after copying
// the runs before it, at the first run whose length differs between the two records (a
// dictionary that no longer matches this program).
bool CopyFieldRuns(uint16_t jcm, const FieldRun* runs, std::size_t count);

class xvJCM : public convert::xvConvert {
public:
    xvJCM() = default;

    convert::ConverterProfile Profile() const override;


    // Reads the JC settings (header 2) and custom list 369 into the members; opens or finds the
    // tax, GL and AR masters. `notes` (optional) receives one line for each master that cannot
    // be opened; false when such a line cannot be printed or the settings cannot be read.
    bool LoadSettings(uint16_t jcm, const convert::OpenFilesList& files, convert::NotesReport* notes,
                      convert::ConvertProgress* progress);

    // The five runs of CopyFieldRuns, for the job-extra split.
    static bool CopyJobFieldsToExtra(uint16_t jcm);
    // The value kept with an examined record's record-ID text: a job's billing level (JBLEVEL),
    // 0 for every other record.
    static uint16_t JobBillingLevel(uint16_t jcm, const xvl::xvlImpInfo& info);

    // ---- Record handlers: true accepts, false rejects with `reason` set -------------------------
    bool ConvertJob(uint16_t jcm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                    bool converting, xvl::xvlImport& import);
    bool ConvertExtra(uint16_t jcm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                      bool converting, RecordIdMap& ids);
    bool ConvertPhase(uint16_t jcm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                      bool converting, convert::ConversionReport& report, RecordIdMap& ids, xvl::xvlImport& import);
    bool ConvertCategory(uint16_t jcm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                         bool converting, RecordIdMap& ids, xvl::xvlImport& import);
    // Adds every missing group phase above `costCode` (n sections), nearest first. False with
    // 12268 in `reason` when one cannot be written (Convert) or examined (Examine Files); the
    // groups created before it stay.
    bool CreateGroupPhase(const std::string& job, const std::string& extra, const std::string& costCode, int n,
                          uint16_t jcm, convert::ConversionReport& report, std::string& reason,
                          const std::string& unitDescription, bool converting, xvl::xvlImpInfo& info,
                          RecordIdMap& ids);

    // ---- Settings, as LoadSettings read them -------------------------------------------------
    bool customSort1Marked = false;  // CUSEK1 not 0
    bool customSort2Marked = false;  // CUSEK2 not 0
    bool extrasTracked = false;      // PTRACKX 2
    int glRetrievalMethod = 0;       // CGLRETM
    bool prefixFromJob = false;      // CGLPRFX set and GL accounts have prefix sections
    bool categoriesUsed = false;     // CCATUSG not 2
    bool periodsUsed = false;        // CPERSIZ not 5
    // PTLUNIT, PTMUNIT, PTSUNIT, PTEUNIT, PTBUNIT, PTOUNIT is 1: units of cost types 1 to 6
    std::array<bool, 6> unitTracking{};
    int defaultBillingLevel = 1;            // PBLEVEL
    std::array<int, 6> miscAmountLevels{};  // FPAMT1L .. FPAMT6L
    std::string arAccount;                  // CARACC, for the draws
    bool prInterfacesJc = false;
    bool eqInterfacesJc = false;
    bool jcInterfacesGl = false;
    convert::SideFile taxMasterFile;  // MASTER.TXM; 0 not open
    convert::SideFile glMasterFile;   // MASTER.GLM; 0 not open
    convert::SideFile arMasterFile;   // MASTER.ARM; 0 not open
    bool arMasterExists = false;  // AR installed and MASTER.ARM exists
    bool arTracksTaxes = false;   // STAXES 1, or the AR header could not be read
    bool cnSettingsExist = false;  // CN installed and Setting.cns present
    // Custom list 369: its default (the first entry, "Taxable" when empty) and the values
    // allowed (without the default when the list has two or more entries).
    std::vector<std::string> taxStatusList;
    std::string defaultTaxStatus = "Taxable";
    // The record's tax status was filled in by the conversion (the default, for a blank or
    // cleared one): not a value of the user's to list as missing from list 369.
    bool taxFilled_ = false;

protected:
    // ---- Steps and hooks of the common sequence ----------------------------------------------
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // The job-extra split, then the handler of the record number (12070 for any other).
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    void ImportRejected(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    uint16_t ExamineValue(convert::ConvertContext& ctx, const xvl::xvlImpInfo& info) override;
    // The tax-status check of an accepted phase or category (a value missing from list 369 goes
    // to the notes).
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override;
    // Convert: the totals rebuild and the draws; then the values missing from custom lists.
    bool FinishConversion(convert::ConvertContext& ctx) override;

private:
    friend struct JCTotalsContext;
    // The totals rebuild and the balance-forward draws that end a Convert (xvjcm_totals.cpp).
    // False when it ended the file: a failure restored and reported (12011, or 12013 for a full
    // disk), or a stop (12000).
    bool RebuildTotals(convert::ConvertContext& ctx);
    // Ends the file for a stop during the rebuild.
    void StopRebuild(convert::ConvertContext& ctx);

protected:
    // How many numbers the rebuild's list of group phases may take (each group counting 16 for
    // itself, and its members' totals when one is not 0), and sixteen times the number of top
    // cost codes (group level 0 or 1) it may list; beyond either, the passes that would use that
    // list walk every cost code instead.
    std::size_t groupListBudget_ = std::size_t{4} << 20;

private:

    // A cost account the text file gave a phase or category (field `fld`), checked against the
    // GL interface, the retrieval method (`method` or 5 allow it on this record) and the account
    // format: cleared with a message when it does not apply, cut to its base account when the
    // prefix comes from the job, refused (false, `reason`) when it is no account at all.
    bool CheckCostAccount(uint16_t jcm, uint16_t fld, std::string account, int method, convert::MessageList& messages,
                          std::string& reason, bool converting);

    // A tax status the text file supplied in field `fld`: blank takes the default; the default
    // stays; otherwise it is cleared to the default when categories are used (`phase` only), AR
    // is missing or does not track taxes, else written in the letter case of list 369.
    void TaxStatus(uint16_t jcm, uint16_t fld, bool phase, convert::MessageList& messages, bool converting);

    // The job a phase or category names, looked up once for the lines that follow it (the
    // lines of one job come together); forgotten whenever a job record is written or examined.
    struct JobLookup {
        bool valid = false;
        std::string key;
        bool found = false;      // on file, or (Examine Files) examined earlier
        bool onFile = false;
        uint16_t level = 1;      // JBLEVEL, or the value kept with its record-ID text
        double accountGroup = 1;  // JCAGRP of a job on file
    };
    const JobLookup& LookUpJob(uint16_t jcm, const std::string& job, bool converting, const RecordIdMap& ids);
    JobLookup job_;
    // For each group level, the last group phase known to be on file or examined (GroupId): the
    // phases of one group come together, and a group never leaves during a text file.
    std::array<std::string, 4> knownGroups_;
    // A group phase of level k - 1 named by its job, extra and the cost code sections above it.
    static std::string GroupId(const std::string& job, const std::string& extra,
                               const std::vector<std::string>& sections, int k);
    // Converting: the group phase in the buffer, its line just written, is known from now on.
    void GroupWritten(uint16_t jcm);
    // Whether every group phase above the cost code of `sections` is known.
    bool GroupsKnown(const std::string& job, const std::string& extra, const CostCodeMemo::Split& split,
                     int n) const;
    // Look-ups in the GL, tax and AR masters (which this conversion does not write), kept for
    // the text file.
    convert::LookupCache lookups_;

    // The parts of the ranges the phase handler clears that its lines may fill, by format.
    LineRanges lineRanges_;
    CostCodeMemo costCodes_;
    // Convert: the cost codes written with their amounts 0, and those amounts as runs of
    // consecutive fields.
    ZeroPhases zeroPhases_;
    FieldRanges phaseAmountRuns_;
    // Whether the cost code in the buffer holds 0 in every amount the totals rebuild reads or sets;
    // with the line that filled it (`import`, `info`), only the amounts that line may have set
    // are looked at.
    bool PhaseAmountsZero(uint16_t jcm, const xvl::xvlImport* import = nullptr, const xvl::xvlImpInfo* info = nullptr);
    // Of those amounts, the ones the phase handler itself may set to a value that is not 0.
    std::vector<uint16_t> phaseHandlerAmounts_;
    // The amounts a line of the format may set (its narrowed runs with the handler's amounts), as
    // runs; worked out once per format.
    struct {
        bool known = false;
        uint16_t jcm = 0;
        std::string format;
        FieldRanges runs;
    } lineAmountRuns_;
    // The list of lineRanges_ that narrows phaseAmountRuns_ (the phase handler uses the ones before).
    static constexpr int kAmountRunsList = LineRanges::kLists - 1;
    // Convert: whether the totals rebuild may find an amount on a cost code or a category. Not
    // when the file held neither when the text file began and every cost code written since
    // (its last write) and every group phase made since holds 0 in every such amount: the
    // cost-code passes then change nothing and are left out. A cost code line that goes on to
    // its write counts as one with amounts until the write is accepted.
    bool amountsMayExist_ = true;
    bool phaseWritePending_ = false;
    // Convert: whether the rebuild's job pass may change a job. Not when the file held no job and
    // no extra when the text file began, no extra line has come since, and every job written
    // since (its last write) is one the pass leaves as it is when every sum it takes is 0; with
    // no amount on any cost code either (amountsMayExist_), the pass is left out. A job line that
    // goes on to its write counts as one the pass may change until the write is accepted.
    bool jobsMayChange_ = true;
    bool jobWritePending_ = false;
    // Likewise, whether a job may hold a billing amount the draw pass looks at: not when no job
    // can change and every job written holds none.
    bool jobsMayBill_ = true;
    void SettlePendingJob() {
        if (std::exchange(jobWritePending_, false)) jobsMayChange_ = jobsMayBill_ = true;
    }
    // The job fields the job pass sets, by data-file number, resolved once per text file: those it
    // sets from the cost codes (with whether billing amounts move up into it) and from the
    // extras, its two difference rules (target = a - b - c) and the fields of the billing level.
    struct JobPassFields {
        bool known = false;
        uint16_t jcm = 0;
        std::vector<std::pair<uint16_t, bool>> fromPhases;
        std::vector<uint16_t> fromExtras;
        std::array<std::array<uint16_t, 4>, 2> differences{};
        uint16_t method = 0, level = 0;
        std::array<uint16_t, 4> billing{};  // the amounts that give a job its balance-forward draw
    } jobPassFields_;
    // Whether the job pass, every sum it takes being 0, leaves the job in the buffer as it is
    // (xvjcm_totals.cpp).
    bool JobPassLeavesAsIs(uint16_t jcm);
    // Whether the job in the buffer holds a billing amount the draw pass looks at.
    bool JobBills(uint16_t jcm);
    // The key of that cost code line (job, extra, code), noted as written with amounts unless
    // its write is accepted first.
    std::string pendingJob_, pendingExtra_, pendingCode_;
    // The line of the cost code pending its write was not accepted: it counts as written with
    // amounts.
    void SettlePendingPhase();
    // The phase handler's field numbers, in the order of its list of names (xvjcm_phase.cpp),
    // resolved once per text file and data file: a few dozen on every line.
    std::array<uint16_t, kPhaseFieldCount> phaseFields_{};
    uint16_t phaseFieldsFile_ = 0;
    void ResolvePhaseFields(uint16_t jcm);
    // What the phase handler asks of a line's format: whether it has a column for a field the
    // handler treats apart, and whether a line of it may hold a contract link or change order
    // (not when it starts from the defaults, which hold none, and has no column for them).
    struct PhaseFormat {
        bool known = false;
        uint16_t jcm = 0;
        std::string format;
        bool typeGiven = false, taxGiven = false, billingGiven = false;
        bool contractsPossible = true;
    } phaseFormat_;
    const PhaseFormat& PhaseFormatOf(uint16_t jcm, const xvl::xvlImport& import, const xvl::xvlImpInfo& info);
    // The fields every phase and category line is noted by: the cost code's job, extra and code,
    // and the tax statuses of both records.
    enum NoteField : std::size_t { kNoteJob, kNoteExtra, kNotePhase, kNotePhaseTax, kNoteCategoryTax, kNoteFields };
    std::array<uint16_t, kNoteFields> noteFields_{};
    // The cost code the phase handler checked last and its split (kept by costCodes_, valid
    // while its generation is phaseSplitGeneration_), for its group phases.
    std::string phaseCode_;
    const CostCodeMemo::Split* phaseSplit_ = nullptr;
    uint64_t phaseSplitGeneration_ = 0;
    // That split when `code` is the cost code it was made for and it is still kept, else null.
    const CostCodeMemo::Split* PhaseSplit(const std::string& code) const {
        const bool kept = phaseSplit_ && phaseSplitGeneration_ == costCodes_.Generation() && phaseCode_ == code;
        return kept ? phaseSplit_ : nullptr;
    }
    // The cost code sections in use, as the text file started.
    int costSections_ = 1;
    // Whether the JC master holds standard phases (record 16) and categories (record 17):
    // without any, their lookups are skipped. This conversion writes neither.
    bool haveStdPhases_ = true;

    // A notes line of LoadSettings could not be printed.
    bool notesFailed_ = false;
};

}  // namespace dz::jc
