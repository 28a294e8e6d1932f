// The vendor totals rebuild of a Convert that clears the paid totals first (paid-totals mode 1):
// every vendor's year and 1099 totals are cleared, then summed again from what the AP master
// holds: each invoice's amount in the year of its accounting date, each paid distribution's
// amounts in the year (and 1099 year) of its check's date. It runs before the first group of the
// second pass is posted, so that the groups add to totals that already count what was on file.
//
// A stop, or a read or write that fails, ends the text file with every data file of the run put
// back from its backup: totals half cleared or half summed are never kept.
#include "converters/ap/xvapi_vendor_totals.h"

#include "convert/platform_links.h"
#include "convert/progress.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapi.h"
#include "converters/ap/xvapm.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/suite/util.h"

#include <algorithm>
#include <array>
#include <functional>

namespace dz::ap {

using convert::ConvertContext;
using convert::FieldNo;
using convert::GetNumber;
using convert::Msg;
using convert::PutNumber;
using convert::PutText;

// ---- What invoices and payments add ---------------------------------------------------------------

double Amount1099(const modlibs::PaidDistImage& p, bool deductionsIn1099) {
    double amount = p.grossPayment - p.discountTaken - p.taxPaid;
    if (!deductionsIn1099) amount -= p.amt63Applied;
    return amount;
}

void AddInvoiced(modlibs::VendorImage& v, YearBucket year, double amount) {
    if (double* invoiced = InYear(year, v.tyInvoiced, v.lyInvoiced, v.nyInvoiced)) *invoiced += amount;
}

void AddPaid(modlibs::VendorImage& v, const modlibs::PaidDistImage& p, YearBucket year, YearBucket year1099,
             double amount1099) {
    using Paid = std::array<double*, 5>;
    Paid thisYear{&v.tyPaidAndDiscount, &v.tyDiscountTaken, &v.tyPaid, &v.tyDeductionApplied, &v.tyGrossPayment};
    Paid lastYear{&v.lyPaidAndDiscount, &v.lyDiscountTaken, &v.lyPaid, &v.lyDeductionApplied, &v.lyGrossPayment};
    Paid nextYear{&v.nyPaidAndDiscount, &v.nyDiscountTaken, &v.nyPaid, &v.nyDeductionApplied, &v.nyGrossPayment};
    if (const Paid* totals = InYear(year, thisYear, lastYear, nextYear)) {
        const double added[] = {p.paidAmount + p.discountTaken, p.discountTaken, p.paidAmount, p.amt63Applied,
                                p.grossPayment};
        for (std::size_t k = 0; k < totals->size(); ++k) *(*totals)[k] += added[k];
    }
    if (double* amount = InYear(year1099, v.thisYear1099, v.lastYear1099, v.nextYear1099)) *amount += amount1099;
    if (double* deducted = InYear(year1099, v.thisYearDeductions, v.lastYearDeductions, v.nextYearDeductions))
        *deducted += p.amt128Deducted;
}

// ---- The rebuild ----------------------------------------------------------------------------------

namespace {

constexpr uint16_t kRecInvoiceOnFile = 1;
constexpr uint16_t kRecDistOnFile = 2;
constexpr uint16_t kRecCheckOnFile = 4;
constexpr uint16_t kRecPaidDist = 6;
constexpr int kEvery = 15;       // records between two progress steps
constexpr int kStopped = 13;     // the walk's answer to a stop

bool AtEnd(int s) { return s == XIO_END || s == XIO_END_OLD; }

class VendorTotalsRebuild {
public:
    VendorTotalsRebuild(xvAPI& converter, ConvertContext& ctx)
        : conv_(converter), ctx_(ctx), apm_(ctx.mainHandle) {}

    // 0 when every step reached the end of its file; kStopped after a stop; else the status of
    // the read or write that failed.
    int Run() {
        int s = ClearVendors();
        if (s == XIO_OK) s = AddInvoices();
        if (s == XIO_OK) s = AddPayments();
        return s;
    }

private:
    // Every record `rec` in key order (locked when `lock`), handed to `each`, whose status other
    // than 0 ends the walk. A progress step every kEvery records; `stopAtOnce` also heeds a
    // background terminate request after every record. The vendor lock is released at the end.
    // The vendor held at the end of the file is written back.
    int Walk(uint16_t rec, uint16_t lock, const char* title, bool stopAtOnce, const std::function<int()>& each) {
        // The share of the bar counts the records passed: asking the file where the walk stands
        // would cost a count whenever a keyed read of another record came between.
        const int64_t total = xio_record_count(apm_, rec);
        int64_t walked = 0;
        int s = xio_rd_first(apm_, rec, 0, lock);
        while (s == XIO_OK) {
            s = each();
            if (s != XIO_OK) break;
            ++walked;
            if (stopAtOnce && convert::InBackground() && convert::CheckTerminate()) {
                s = kStopped;
                break;
            }
            if (walked % kEvery == 0) {
                const auto percent = static_cast<int16_t>(total > 0 ? std::min<int64_t>(100, walked * 100 / total) : 0);
                if (!Shown(title, percent)) {
                    s = kStopped;
                    break;
                }
            }
            s = xio_rd_next(apm_, rec, 0, lock);
        }
        if (AtEnd(s)) s = Release();
        xio_unlock_record(apm_, kRecVendor);
        return s;
    }

    // The progress window, or a background run's task line; false when the run is to stop.
    bool Shown(const char* title, int16_t percent) {
        if (ctx_.progress) return ctx_.progress->SetStatusText(title, percent);
        if (convert::InBackground()) {
            if (convert::CheckTerminate()) return false;
            suite::x_update_task(percent, title);
        }
        return true;
    }

    // Step 1: both runs of totals of every vendor back to 0.
    int ClearVendors() {
        const std::array<std::pair<const char*, const char*>, 2> runs{{{"VTY1099", "VNYDED"}, {"VYTDAMT", "VNYPD"}}};
        std::vector<uint16_t> fields;
        for (const auto& [first, last] : runs) {
            const uint16_t from = FieldNo(apm_, kRecVendor, first), to = FieldNo(apm_, kRecVendor, last);
            if (from == 0 || to < from) return XIO_BAD_CALL;
            for (uint16_t f = from; f <= to; ++f) fields.push_back(f);
        }
        return Walk(kRecVendor, 1, "Clearing vendor totals:", true, [&] {
            bool changed = false;
            for (uint16_t f : fields) {
                if (GetNumber(apm_, f) == 0) continue;
                PutNumber(apm_, f, 0);
                changed = true;
            }
            // A vendor with nothing to clear is left as it is, its lock released.
            if (!changed) return xio_unlock_record(apm_, kRecVendor);
            return xio_rep_record(apm_, kRecVendor);
        });
    }

    // Step 2: each invoice's amount into the year of its accounting date.
    int AddInvoices() {
        return Walk(kRecInvoiceOnFile, 0, "Updating unpaid vendor totals:", false, [&] {
            modlibs::InvoiceImage invoice;
            if (modules::AP_GET_ORIGINAL_INV(apm_, &invoice, 0, 0) != 0) return XIO_BAD_CALL;
            if (const int s = Hold(invoice.vendor); s != XIO_OK || !vendorOnFile_) return s;
            AddInvoiced(vendor_, YearOf(invoice.accountingDate, conv_.YREND), invoice.amount);
            vendorChanged_ = true;
            return XIO_OK;
        });
    }

    // Step 3: each paid distribution's amounts into the year of its check's date, and into the
    // 1099 year unless its distribution is exempt. A payment whose check is not on file adds
    // nothing.
    int AddPayments() {
        const uint16_t exemptField = FieldNo(apm_, kRecDistOnFile, "ODEXMPT");
        return Walk(kRecPaidDist, 0, "Updating paid vendor totals:", false, [&] {
            modlibs::PaidDistImage paid;
            if (modules::AP_GET_PAID_DST(apm_, &paid, 0) != 0) return XIO_BAD_CALL;
            if (const int s = Hold(paid.vendor); s != XIO_OK || !vendorOnFile_) return s;
            PutText(apm_, kRecCheckOnFile, "CBANK", paid.bank);
            PutNumber(apm_, kRecCheckOnFile, "CHECK", paid.check);
            int s = xio_rd_record(apm_, kRecCheckOnFile, 0, 0);
            if (s != XIO_OK) return s == XIO_NOT_FOUND ? XIO_OK : s;
            const x_date_type checkDate = convert::GetDate(apm_, kRecCheckOnFile, "CDATE");
            PutText(apm_, kRecDistOnFile, "ODVND", paid.vendor);
            PutText(apm_, kRecDistOnFile, "ODINV", paid.invoice);
            PutNumber(apm_, kRecDistOnFile, "ODDSEQ", paid.distSequence);
            s = xio_rd_record(apm_, kRecDistOnFile, 0, 0);
            if (s != XIO_OK && s != XIO_NOT_FOUND) return s;
            const bool exempt = s == XIO_OK && xio_get_field_result(apm_, kRecDistOnFile, exemptField) == 1;
            const YearBucket year1099 = exempt ? YearBucket::None : YearOf(checkDate, conv_.GYREND);
            AddPaid(vendor_, paid, YearOf(checkDate, conv_.YREND), year1099, Amount1099(paid, conv_.MD1099 != 0));
            vendorChanged_ = true;
            return XIO_OK;
        });
    }

    // Makes `vendor` the vendor held, read locked (vendorOnFile_ false when it is not on file).
    // The records of a step come in vendor order, so each vendor is read, and written back once
    // its last record has added to it, once per step.
    int Hold(const std::string& vendor) {
        if (vendorHeld_ && xvl::equalNoCase(vendorKey_, vendor)) return XIO_OK;
        if (const int s = Release(); s != XIO_OK) return s;
        PutText(apm_, kRecVendor, "VENDOR", vendor);
        const int s = xio_rd_record(apm_, kRecVendor, 0, 1);
        if (s != XIO_OK && s != XIO_NOT_FOUND) return s;
        vendorHeld_ = true;
        vendorKey_ = vendor;
        vendorOnFile_ = s == XIO_OK;
        if (vendorOnFile_ && modules::AP_GET_VENDOR(apm_, &vendor_, 0, 0) != 0) return XIO_BAD_CALL;
        return XIO_OK;
    }

    // Writes the vendor held back when its totals changed; none is held after it.
    int Release() {
        const bool write = vendorHeld_ && vendorOnFile_ && vendorChanged_;
        vendorHeld_ = vendorChanged_ = false;
        if (!write) return XIO_OK;
        if (modules::AP_PUT_VENDOR(apm_, &vendor_, 0, 0) != 0) return XIO_BAD_CALL;
        return xio_rep_record(apm_, kRecVendor);
    }

    xvAPI& conv_;
    ConvertContext& ctx_;
    uint16_t apm_;
    // The vendor the current records add to.
    bool vendorHeld_ = false, vendorOnFile_ = false, vendorChanged_ = false;
    std::string vendorKey_;
    modlibs::VendorImage vendor_;
};

}  // namespace

bool xvAPI::UpdateVendorTotals(ConvertContext& ctx) {
    const int status = VendorTotalsRebuild(*this, ctx).Run();
    if (status == XIO_OK) return true;
    // The batch ends before the data files go back to their backups.
    suite::zb_term_batch(batchRecord_);
    if (status == kStopped) return EndFileStopped(ctx);
    return EndFile(ctx, DataFileFailure(ctx), true, true);
}

}  // namespace dz::ap
