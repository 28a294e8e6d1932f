#include "converters/pm/xvpmr.h"

#include "convert/progress.h"
#include "convert/reports.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/xk.h"

#include <algorithm>
#include <cctype>

namespace dz::pm {

using namespace convert;

namespace {

constexpr const char* kTotalsStatus = "Creating sales cat recs:";

}  // namespace

ConverterProfile xvPMR::Profile() const {
    ConverterProfile p;
    p.abbreviation = "PMR";
    p.fileNo = 1;
    p.title = "PM Retail File";
    p.description = "PM Retail file";
    p.convertingText = "Converting '%s' into PM Retail File";
    p.examiningText = "Examining '%s' for PM  Retail File";
    p.progressEtc = true;
    // The retail file is the only one written; the lease and system files are read for lookups.
    // Opened lease, system, retail.
    ConverterDataFile pmr = ConverterDataFile::Owned("PMR", 1, kPmrCode, "PM Retail file");
    pmr.openOrder = 1;
    p.dataFiles = {pmr, ConverterDataFile::ReadOnly("PML", 1, kPmlCode, "PM Lease file"),
                   ConverterDataFile::ReadOnly("PMS", 1, kPmsCode, "PM System file")};
    return p;
}

// ---- Files and lists -----------------------------------------------------------------------------

bool xvPMR::LoadCustomLists() {
    stores_.Load(kStoreList);
    salesTypes_.Load(kSalesTypeList);
    salesCategories_.Load(kSalesCategoryList);
    sfTypes_.Load(kSfTypeList);
    salesTypeDefault_ = suite::xk_get_custom_list_default(kSalesTypeList);
    salesCategoryDefault_ = suite::xk_get_custom_list_default(kSalesCategoryList);
    return true;
}

bool xvPMR::LoadSettings(ConvertContext& ctx, std::string&) {
    convert::ForgetFieldNumbers();  // handles may name other files than in an earlier run
    pml_ = convert::FindFileHandle(ctx.files, "PML", 1);
    pms_ = convert::FindFileHandle(ctx.files, "PMS", 1);
    controlLeases_.clear();
    controlRevisions_.clear();
    blankRecalc_.clear();
    chargeTypes_.clear();
    return LoadCustomLists();
}

// ---- The record loop's hooks ---------------------------------------------------------------------

bool xvPMR::DispatchRecord(ConvertContext& ctx, xvl::xvlImpInfo& info, std::string& reason) {
    const uint16_t pmr = ctx.mainHandle;
    const uint16_t rec = info.ImportedRecs();
    if (info.FileNumUsed() == pmr) {
        switch (rec) {
        case kRecPercentRent: return ConvertPercentRentControl(pmr, pml_, pms_, reason, ctx.messages, ctx.converting);
        case kRecSalesCategory: return ConvertSalesCategory(pmr, reason, ctx.messages, ctx.converting);
        case kRecBreakpoint: return ConvertBreakpoint(pmr, reason, ctx.messages, ctx.converting);
        default: break;
        }
    }
    // The record is named by the retail file's record of that number; by its format id when it
    // has no number, or when it is one of the retail numbers in another file.
    return RejectUnknownRecord(info, reason, "PMR Retail", (info.FileNumUsed() == pmr || rec > kRecBreakpoint) ? pmr : 0);
}

void xvPMR::RecordWritten(ConvertContext& ctx, xvl::xvlImpInfo& info) {
    const uint16_t pmr = ctx.mainHandle;
    if (info.FileNumUsed() != pmr || info.RecExtraData() != 0) return;
    const auto line = static_cast<uint32_t>(info.StartLine());
    convert::NotesReport& notes = *ctx.notes;
    switch (info.ImportedRecs()) {
    case kRecPercentRent: {
        if (ctx.converting) {
            const std::string lease = GetText(pmr, kRecPercentRent, "PRLEASE");
            if (!lease.empty()) {
                controlLeases_.push_back({lease});
                controlRevisions_.push_back(GetNumber(pmr, kRecPercentRent, "PRREV"));
                if (IsUnsetDate(GetDate(pmr, kRecPercentRent, "PRNRD"))) blankRecalc_.insert(lease);
            }
        }
        const std::string store = GetText(pmr, kRecPercentRent, "PRSTORE");
        if (!store.empty()) stores_.CheckExact(store, notes, line);
        break;
    }
    case kRecSalesCategory: {
        const std::string category = GetText(pmr, kRecSalesCategory, "SCSLCAT");
        if (!category.empty() && !IsTotalCategory(category)) salesCategories_.CheckExact(category, notes, line);
        const std::string sfType = GetText(pmr, kRecSalesCategory, "SCSFT");
        if (!sfType.empty()) sfTypes_.CheckExact(sfType, notes, line);
        break;
    }
    case kRecBreakpoint: {
        const std::string category = GetText(pmr, kRecBreakpoint, "BTSCAT");
        if (!category.empty() && !IsTotalCategory(category)) salesCategories_.CheckExact(category, notes, line);
        break;
    }
    default: break;
    }
}

// ---- The finish ------------------------------------------------------------------------------------

bool xvPMR::FinishConversion(ConvertContext& ctx) {
    if (ctx.converting && !blankRecalc_.empty()) {
        if (!ReportBlankRecalcDates(blankRecalc_, *ctx.notes)) return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
        if (ctx.progress) ctx.progress->notes += 1;
    }
    if (!ctx.notes->PrintMissingCustomListValues(ctx.progress)) return EndFile(ctx, PrintFailure(ctx, 12012), true, true);
    if (!ctx.converting) return true;
    return CreateSalesCategoryRecords(ctx);
}

bool xvPMR::CreateSalesCategoryRecords(ConvertContext& ctx) {
    const uint16_t pmr = ctx.mainHandle;
    const uint16_t leaseNo = FieldNo(pmr, kRecSalesCategory, "SCLEASE");
    const uint16_t revisionNo = FieldNo(pmr, kRecSalesCategory, "SCREV");
    const uint16_t categoryNo = FieldNo(pmr, kRecSalesCategory, "SCSLCAT");
    const uint16_t totalNo = FieldNo(pmr, kRecSalesCategory, "SCCO");
    // A stop is counted as the record loop's stop is: not as one more message.
    PassProgress progress(*this, ctx, controlLeases_.size(), kTotalsStatus, kTotalsStatus, false);
    for (std::size_t i = 0; i < controlLeases_.size(); ++i) {
        if (const std::string_view lease = controlLeases_[i].lease; !lease.empty()) {
            xio_init_record(pmr, kRecSalesCategory);
            PutText(pmr, leaseNo, std::string(lease.substr(0, 81)));
            PutNumber(pmr, revisionNo, controlRevisions_[i]);
            PutText(pmr, categoryNo, kTotalCategory);
            // A "Total" already on file (or written for an earlier revision pair) stays as it is:
            // the write of one finds it.
            PutFlag(pmr, totalNo, 1);
            uint16_t clash = 0;
            const int written = xio_wr_record(pmr, kRecSalesCategory, &clash);
            if (written != XIO_OK && !(written == XIO_DUPLICATE && clash == 0))
                return EndFile(ctx, DataFileFailure(ctx), true, true);
        }
        if (!progress.Step()) return false;
    }
    return FinishPasses(ctx, kTotalsStatus);
}

bool ReportBlankRecalcDates(const std::set<std::string>& leases, convert::NotesReport& notes) {
    if (leases.empty()) return true;
    const std::string term = TermLabel(kLeaseTerm);
    if (!notes.PrintMessageLine("", 0, "") || !notes.PrintMessageLine("", 0, Msg(12594, term)) ||
        !notes.PrintMessageLine("", 0, Msg(12595)) || !notes.PrintMessageLine("", 0, ""))
        return false;

    constexpr std::size_t kLineLimit = 400;
    const int width = notes.TextWidth() - 25;
    std::string line = "Percent Rent control records off of " + term + ":  ";
    const std::size_t n = leases.size();
    std::size_t i = 0;
    for (const auto& lease : leases) {
        ++i;
        std::string piece = (i == n && n > 1) ? "and '" : "'";
        piece += lease;
        piece += (n == 2 && i == 1) ? "' " : "', ";
        if (static_cast<int>(piece.size() + line.size()) < width && piece.size() + line.size() <= kLineLimit) {
            line += piece;
        } else {
            if (!notes.PrintMessageLine("", 0, line)) return false;
            line = "   " + piece;
        }
    }
    line.resize(line.size() >= 2 ? line.size() - 2 : 0);
    return notes.PrintMessageLine("", 0, line);
}

}  // namespace dz::pm
