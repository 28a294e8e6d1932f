// The PM retail converter (conversion type 603): percent rent controls (record 1), sales
// categories (record 2) and breakpoints (record 3) of a PM retail text file, checked against the
// leases (PM lease file) and charge types (PM system file) on file and examined or converted into
// the PM retail file ("PMR", file number 1). After the records it lists the controls written
// without a next recalculation date, the values missing from the custom lists, and (Convert)
// adds a "Total" sales category for every control written.
//
//   xvpmr.cpp          the frame: files, lists, dispatch, what is kept per record, the finish
//   xvpmr_records.cpp  the record handlers and the billing / recalculation date cycle
#pragma once

#include "converters/pm/pm_shared.h"
#include "converters/pm/key_texts.h"

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

namespace dz::pm {

// PM retail record numbers.
inline constexpr uint16_t kRecPercentRent = 1;
inline constexpr uint16_t kRecSalesCategory = 2;
inline constexpr uint16_t kRecBreakpoint = 3;

// Custom lists of the retail records.
inline constexpr int kStoreList = 437, kSalesCategoryList = 414, kSfTypeList = 417;

// Whether a next billing date and a next recalculation date fall on one common cycle of
// `billMonths` and `recalcMonths`: the earlier date moves forward in whole steps of its own
// frequency, each step counted from the original date (so a month end stays a month end: 3/31
// steps to 6/30, 9/30 and 12/31), until it is no longer earlier than the other; the dates then
// must be equal. Frequencies below 1 never agree.
bool DatesInStep(const x_date_type& nextBill, const x_date_type& nextRecalc, int billMonths, int recalcMonths);

// The sales category every control gets: "Total", in any letter case.
inline constexpr const char* kTotalCategory = "Total";
bool IsTotalCategory(const std::string& category);

class xvPMR : public PmConverter {
public:
    xvPMR() = default;
    ~xvPMR() override = default;

    convert::ConverterProfile Profile() const override;


    // Lists 437, 434, 414 and 417 and the defaults of 434 and 414.
    bool LoadCustomLists();

    // ---- Record handlers: true accepts, false rejects with `reason` set -------------------------
    // They work on the record the import staged in the PM retail file's buffer and write nothing.
    bool ConvertPercentRentControl(uint16_t pmr, uint16_t pml, uint16_t pms, std::string& reason,
                                   convert::MessageList& messages, bool converting);
    bool ConvertSalesCategory(uint16_t pmr, std::string& reason, convert::MessageList& messages, bool converting);
    bool ConvertBreakpoint(uint16_t pmr, std::string& reason, convert::MessageList& messages, bool converting);

    // The lease of a control written in Convert, for its "Total" sales category.
    struct ControlLease {
        std::string_view lease;
    };

protected:
    // Reads the custom lists (the data files and the template were found).
    bool LoadSettings(convert::ConvertContext& ctx, std::string& failure) override;
    // Records 1 to 3 of the PM retail file go to their handlers; anything else gets 12070.
    bool DispatchRecord(convert::ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) override;
    // After a record was kept: (Convert) the control's lease and revision and a blank next
    // recalculation date; (both) the values missing from the custom lists.
    void RecordWritten(convert::ConvertContext& ctx, xvl::xvlImpInfo& info) override;
    // The blank recalculation dates (Convert), the missing custom-list values, then (Convert) the
    // "Total" sales categories.
    bool FinishConversion(convert::ConvertContext& ctx) override;

    bool CreateSalesCategoryRecords(convert::ConvertContext& ctx);

private:
    // The control of `lease` and `revision` (record 1): on file, when its key fields take the
    // stored spelling; or in Examine Files met earlier in the text file.
    bool FindControl(uint16_t pmr, std::string& lease, double& revision, bool converting);
    // The charge type as stored in the PM system file (which this conversion never writes),
    // looked up once per text file for each spelling met; false when it is not on file.
    bool StoredChargeType(uint16_t pms, std::string& chargeType);
    // Sales category normalisation: "Total" in any case becomes "Total", else the list's spelling.
    void NormaliseCategory(std::string& category) const;

    uint16_t pml_ = 0, pms_ = 0;  // the lease and system files of the run
    CustomList stores_, salesTypes_, salesCategories_, sfTypes_;
    std::string salesTypeDefault_, salesCategoryDefault_;
    // The controls written, in order, duplicates kept: their leases packed and their revisions
    // beside them (a million controls are a million entries: neither list copies them to grow).
    KeyTexts<ControlLease, 1> controlLeases_;
    std::deque<double> controlRevisions_;
    std::set<std::string> blankRecalc_;                                // leases without PRNRD
    std::unordered_map<std::string, std::string> chargeTypes_;         // as given -> as stored ("" none)
};

// The notes section that lists the leases whose control has no next recalculation date: a
// heading (12594, 12595) and the leases on lines kept under the notes width less 25. False when
// a line could not be printed. Nothing for an empty set.
bool ReportBlankRecalcDates(const std::set<std::string>& leases, convert::NotesReport& notes);

}  // namespace dz::pm
