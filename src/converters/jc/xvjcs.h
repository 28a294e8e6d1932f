// The JC standards converter (conversion type 201): standard phases (record 16) and standard
// categories (record 17) of a JC standards text file, examined or converted into the JC master
// data file. A standard phase also gets the group standard phases above it that are missing.
// It runs the JC master converter's road without the totals rebuild.
#pragma once

#include "convert/convert_file.h"
#include "convert/converter.h"
#include "convert/field_numbers.h"
#include "convert/lookups.h"
#include "convert/side_file.h"
#include "convert/reports.h"
#include "platform/modlibs/jc_cost_code.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace dz::jc {

class xvJCS : public convert::xvConvert {
public:
    xvJCS() = default;

    convert::ConverterProfile Profile() const override;


    // Reads the JC settings and custom list 369; finds or opens the GL master (JC posting to GL
    // with retrieval method 2, 3 or 5) and reads whether AR tracks taxes. `notes` (optional)
    // receives one line for a master that cannot be opened; false when the settings cannot be
    // read or such a line cannot be printed.
    bool LoadSettings(uint16_t jcm, const convert::OpenFilesList& files, convert::NotesReport* notes,
                      convert::ConvertProgress* progress);

    // ---- Record handlers: true accepts, false rejects with `reason` set ---------------------
    bool ConvertStdPhase(uint16_t jcm, xvl::xvlImpInfo& info, std::string& reason, convert::MessageList& messages,
                         bool converting, convert::ConversionReport& report);
    bool ConvertStdCategory(uint16_t jcm, xvl::xvlImpInfo& info, std::string& reason,
                            convert::MessageList& messages, bool converting);
    // The check of one cost account (`letter` "A", "B" or "C") of record `rec` (16 or 17): false
    // only when it is invalid; it may clear the field or cut it to its base account.
    bool ValidateCostAccount(uint16_t jcm, std::string& reason, convert::MessageList& messages, uint16_t rec,
                             const char* field, const char* letter, bool converting);
    // Adds every missing group standard phase above `costCode` (n sections), nearest first. False
    // with 12220 in `reason` when one cannot be written (or examined); earlier groups stay.
    bool CreateGroupStdPhase(const std::string& costCode, int n, uint16_t jcm, convert::ConversionReport& report,
                             convert::MessageList& messages, std::string& reason, bool converting,
                             xvl::xvlImpInfo& info);

    // ---- Settings, as LoadSettings read them -------------------------------------------------
    std::vector<std::string> taxStatusList;
    std::string defaultTaxStatus = "Taxable";
    bool jcInterfacesGl = false;
    convert::SideFile glMasterFile;
    bool categoriesUsed = false;
    int glRetrievalMethod = 0;
    bool prefixFromJob = false;  // CGLPRFX 1 and GL accounts have sections
    // Unit settings by cost type (index 0 unused): 1 tracked, 0 not; a handler marks a cost type
    // it already warned about in the current record with 2.
    std::array<uint16_t, 7> unitTracking{0xFFFF, 0, 0, 0, 0, 0, 0};
    bool arMasterExists = false;
    bool arTracksTaxes = false;

protected:
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // The tax status of an accepted record checked against list 369 (missing values to the notes).
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override;
    // No totals to rebuild: only the tax statuses missing from their list are printed.
    bool FinishConversion(convert::ConvertContext& ctx) override;

private:
    // Convert: a group standard phase a line wrote is on file for the look-ups of its members.
    void GroupWritten(uint16_t jcm);
    // The unit check of a cost unit description (12208 once per cost type and record).
    void UnitCheck(int costType, const std::string& unit, convert::MessageList& messages);
    // The tax status in `fld`: blank or the default; otherwise kept in the list's spelling, or
    // set to the default with 12790 to 12792.
    void TaxStatus(uint16_t jcm, uint16_t fld, bool phase, convert::MessageList& messages, bool converting);

    // The check of one cost account by its field number.
    bool ValidateCostAccount(uint16_t jcm, std::string& reason, convert::MessageList& messages, uint16_t rec,
                             uint16_t fld, const char* letter, bool converting);

    // The fields the handlers touch on every record, resolved when a text file starts.
    enum PhaseField : std::size_t {
        kSpPhase, kSpDesc, kSpOverhead, kSpCat1, kSpGroup, kSpCostType, kSpAccountA, kSpAccountB, kSpAccountC,
        kSpUnitDesc, kSpSendToBillings, kSpTaxStatus, kPhaseFields
    };
    enum CategoryField : std::size_t {
        kScCat, kScDesc, kScAccountA, kScAccountB, kScAccountC, kScUnitDesc, kScCostType, kScSendToBillings,
        kScTaxStatus, kCategoryFields
    };
    convert::FieldNumbers<kPhaseFields> phaseFields_;
    convert::FieldNumbers<kCategoryFields> categoryFields_;
    // The cost accounts A to C, the cost unit description and the first category follow one
    // another, so that one scan tells whether a line left them all blank.
    bool accountsBeforePairs_ = false;

    std::array<uint16_t, 7> unitSettings_{0xFFFF, 0, 0, 0, 0, 0, 0};  // as read
    std::array<uint16_t, 7> unitStart_{0xFFFF, 0, 0, 0, 0, 0, 0};     // unitTracking as a record starts
    // Look-ups in the GL, tax and AR masters (which this conversion does not write) and of the
    // group phases on file or written, kept for the text file.
    convert::LookupCache lookups_;
    // The record's tax status was filled in by the conversion (blank, or refused and set to the
    // default): not a value of the user's to list as missing from list 369.
    bool taxFilled_ = false;
    // The cost code the standard phase handler checked last, for its groups.
    std::string splitCode_;
    // The cost-code format as the text file started: the sections in use, and where each lies
    // in an unformatted cost code (offset, width), so that a cost code is split with one
    // unformat and no look-up of the format per section.
    int costSections_ = 1;
    std::array<std::pair<std::size_t, std::size_t>, modlibs::kJcMaxCostCodeSections> sectionAt_{};
    // The split code without its separators, when it held a separator character.
    std::string plainCode_;
    bool splitPlain_ = false;
    // Each section of the split code (offset, length without its trailing blanks) in splitCode_
    // or, when splitPlain_, in plainCode_; empty for a section the code does not reach.
    std::array<std::pair<std::size_t, std::size_t>, modlibs::kJcMaxCostCodeSections> splitAt_{};
    // The characters a separator of the cost-code format begins with: a cost code that holds
    // none of them is its own unformatted value (as cost codes are stored). All of them when
    // the format's separators could not be told.
    std::array<bool, 256> separatorStart_{};
    // Which sections of the split code are zero or blank (bit k-1 for section k).
    unsigned zeroSections_ = 0;
    // Splits `code` into its sections as CostCodeSections does, without copying them, and marks
    // its zero sections.
    void SplitCostCode(const std::string& code);
    // Section k (0-based) of the split code, and all of them as CostCodeSections gives them.
    std::string_view Section(std::size_t k) const {
        return std::string_view(splitPlain_ ? plainCode_ : splitCode_).substr(splitAt_[k].first, splitAt_[k].second);
    }
    std::vector<std::string> SplitSections() const;
    bool ZeroSection(int k) const { return (zeroSections_ >> (k - 1)) & 1u; }
    // For each group level, the sections above it of the last group standard phase known to be
    // on file, written or examined: the phases of one group come together, and a group never
    // leaves during a text file.
    std::array<std::vector<std::string>, 4> knownGroups_;
    // Whether every group standard phase above the cost code split last is known: GroupsKnownOf
    // works it out; GroupsKnown answers as it did for the code before when that shares what the
    // answer depends on.
    bool GroupsKnown(int n);
    bool GroupsKnownOf(int n) const;
    // Counts the changes of knownGroups_, so that a kept answer is never taken after one.
    uint64_t knownGeneration_ = 0;
    struct {
        bool valid = false;
        uint64_t generation = 0;
        unsigned zero = 0;
        std::string prefix;
        bool answer = false;
    } groupsAnswer_;

    // The standard categories the pairs of standard phases name, as the JC master holds them:
    // whether one is on file, and its cost unit description. Read once per category text;
    // dropped whenever a line of a standard category is converted.
    struct StandardCategory {
        bool found = false;
        std::string unit;
    };
    std::unordered_map<std::string, StandardCategory> categories_;
    const StandardCategory& StandardCategoryOf(uint16_t jcm, const std::string& category);
    // Examine Files: whether a line before examined standard category `category`.
    bool ExaminedCategory(uint16_t jcm, const std::string& category);

    // The import of the line being handled (null when a handler is called on its own).
    const xvl::xvlImport* import_ = nullptr;
    // The fields of the category pairs from `cat1` that a line of the format in `info` may hold
    // text in, as runs of fields in order: a line that adds a standard phase starts from the
    // defaults, so a text field without a column and with a blank default is blank. Worked out
    // once per format; every field when the line starts from a stored record.
    const std::vector<std::pair<uint16_t, uint16_t>>& PairRuns(uint16_t jcm, const xvl::xvlImpInfo& info,
                                                              uint16_t cat1);
    // Works the runs out for the format of `info`.
    const std::vector<std::pair<uint16_t, uint16_t>>& FindPairRuns(uint16_t jcm, const xvl::xvlImpInfo& info,
                                                                  uint16_t cat1);
    struct {
        bool known = false;
        uint16_t jcm = 0, cat1 = 0;
        std::string format;
        std::vector<std::pair<uint16_t, uint16_t>> runs;
    } pairRuns_;

    // Without the prefix from the job: whether a cost account as given is a whole account of
    // the GL format, and whether the GL master lacks it (the conversion never writes there).
    struct WholeAccount {
        bool valid = false;
        bool missing = false;
    };
    std::unordered_map<std::string, WholeAccount> wholeAccounts_;
    WholeAccount scratchAccount_;
    const WholeAccount& WholeAccountOf(const std::string& account);

    bool notesFailed_ = false;
};

}  // namespace dz::jc
