// Posting one converted AP group: everything its handlers and its completion left in the images
// is written to the AP master, the AP transaction file, the CM master and the CM transaction
// file, all or nothing. Every write is remembered on a rollback stack, and the first failure
// undoes the group's writes, so that a rejected group leaves the files as they were before it.
#include "converters/ap/xvapi_post.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapi.h"
#include "converters/ap/xvapi_taxes.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_import.h"
#include "platform/import/xvl_rollback.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace dz::ap {

using convert::IsBlank;
using convert::IsUnsetDate;
using convert::Msg;

namespace {

constexpr uint16_t kRecOpenTax = 3, kRecPaidInvoice = 5, kRecPaidTax = 7, kRecVendor = 9, kRecPrefixTotals = 10;
constexpr uint16_t kRecTransaction = 1;     // AP transaction file
constexpr uint16_t kRecCmTransaction = 1;   // CM transaction file
constexpr uint16_t kRecCashDetail = 5;
constexpr uint16_t kRecBankLastCheck = 5;   // CM master

// The writes of one group, each remembered for the rollback, and the group's first failure.
class GroupWriter {
public:
    GroupWriter(xvAPI& converter, const xvl::xvlImpInfo& head, std::string& reason, xvl::xvlRollbackStack& stack)
        : converter_(converter), copy_(head), reason_(reason), stack_(stack) {
        // Posting writes the images alone: no custom fields or notes go with them.
        copy_.SetImportedUDs(0);
        copy_.SetUDRecordLocked(0);
    }
    // The writes not undone stand: their saved copies are dropped.
    ~GroupWriter() { stack_.clear(); }
    GroupWriter(const GroupWriter&) = delete;
    GroupWriter& operator=(const GroupWriter&) = delete;

    bool Failed() const { return !reason_.empty(); }
    bool DiskFull() const { return diskFull_; }

    // Marks the group failed by step `prefix` with `text` (the write's own reason when empty).
    bool Fail(const char* prefix, std::string text = {}) {
        if (!text.empty()) reason_ = std::move(text);
        if (reason_.empty()) reason_ = Msg(diskFull_ ? 12013 : 12011);
        reason_.insert(0, prefix);
        return false;
    }

    // A record new to the file, from the buffer as the caller put it (`put` the status of that put:
    // an image that could not be put fails with 12011).
    bool New(uint16_t file, uint16_t rec, const char* prefix, int put = 0) {
        if (put != 0) return Fail(prefix, Msg(12011));
        copy_.SetImportedRecs(rec);
        copy_.SetReplaceRecord(false);
        return Write(file, rec, prefix, false, 0);
    }

    // The record whose key `putKey` places: replaced by what `putAll` places when it is on file,
    // else written new (or, `mustExist`, a failure with 12011).
    template <class PutKey, class PutAll>
    bool Replace(uint16_t file, uint16_t rec, const char* prefix, const PutKey& putKey, const PutAll& putAll,
                 bool mustExist, bool force = true) {
        if (!putKey()) return Fail(prefix, Msg(12011));
        const int read = xio_rd_record(file, rec, 0, 1);
        if (read == XIO_NOT_FOUND && !mustExist) {
            if (!putAll()) return Fail(prefix, Msg(12011));
            return New(file, rec, prefix);
        }
        if (read != XIO_OK) return Fail(prefix, Msg(12011));
        return ReplaceHeld(file, rec, prefix, putAll, force);
    }

    // The record now in the buffer as stored, read or held (locked): replaced by what `putAll`
    // places.
    template <class PutAll>
    bool ReplaceHeld(uint16_t file, uint16_t rec, const char* prefix, const PutAll& putAll, bool force = true) {
        const uint16_t saved = xio_save_record(file, rec);
        if (saved == 0 || !putAll()) {
            if (saved != 0) xio_unsave_record(file, saved);
            xio_unlock_record(file, rec, 1);
            return Fail(prefix, Msg(12011));
        }
        copy_.SetImportedRecs(rec);
        copy_.SetReplaceRecord(true);
        return Write(file, rec, prefix, force, saved);
    }

    // The group's writes undone; false when one of them could not be.
    bool Undo() {
        const bool undone = stack_.rollback();
        diskFull_ = diskFull_ || stack_.DiskFull();
        return undone;
    }

    // Writes the buffer of `rec` (replacing, with the saved copy `saved`, when the copy says so).
    bool Write(uint16_t file, uint16_t rec, const char* prefix, bool force, uint16_t saved) {
        bool full = false;
        if (!converter_.WriteRecord(file, copy_, reason_, nullptr, convert::kPermGroup, full, force)) {
            if (saved != 0) xio_unsave_record(file, saved);
            diskFull_ = diskFull_ || full;
            return Fail(prefix);
        }
        stack_.pushRecord(file, rec, saved != 0 ? xvl::xvlRollbackStack::Replaced : xvl::xvlRollbackStack::Added,
                          saved);
        return true;
    }

    xvl::xvlImpInfo& Head() { return copy_; }

private:
    xvAPI& converter_;
    xvl::xvlImpInfo copy_;
    std::string& reason_;
    bool diskFull_ = false;
    xvl::xvlRollbackStack& stack_;
};

bool Put(int status) { return status == 0; }

using Group = xvAPI::GroupCallbackContext;

// A check or paid invoice without a payment number takes its check's; none to be had fails.
template <class Image>
bool NumberPayment(xvAPI& c, uint16_t apm, Image& image, GroupWriter& w, const char* prefix) {
    if (image.paymentNumber == 0) image.paymentNumber = c.GetPaymentNumber(apm, image.bank, image.check);
    return image.paymentNumber != 0 || w.Fail(prefix, Msg(12011));
}

// What a distribution's payments in this group still had to pay of its 64-amount before them.
double OutstandingAmt64(const xvAPI& c, const modlibs::DistImage& d) {
    double inGroup = 0;
    for (const auto& p : c.paidDists)
        if (p.distSequence == d.distSequence) inGroup += p.amt64Paid;
    return d.amt64 - (d.amt64Paid - inGroup);
}

// The payments of distribution `d` split its tax entries; their paid tax entries are written.
void PostPaidTaxes(xvAPI& c, uint16_t apm, modlibs::DistImage& d, bool newDistribution, GroupWriter& w) {
    LastShare share(OutstandingAmt64(c, d));
    for (auto& p : c.paidDists)
        if (p.distSequence == d.distSequence) SumTaxList(p, d, share.Add(p.amt64Paid));
    for (auto& entry : d.taxes) {
        entry.paid64 = entry.liabilityPaid64 = 0;
        if (newDistribution) entry.firstWrite = 1;
    }
    for (auto& p : c.paidDists) {
        if (p.distSequence != d.distSequence) continue;
        for (auto& t : p.paidTaxes) {
            auto entry = std::find_if(d.taxes.begin(), d.taxes.end(),
                                      [&](const modlibs::TaxEntry& e) { return e.component == t.component; });
            if (entry == d.taxes.end()) entry = d.taxes.begin();
            entry->paid += t.paid;
            entry->liabilityPaid += t.liabilityApplied;
            entry->paid64 += t.paid64;
            entry->liabilityPaid64 += t.liabilityApplied64;
            if (w.Failed()) continue;
            w.New(apm, kRecPaidTax, "On Paid tax dist: ", modules::AP_PUT_PAID_TAX(apm, nullptr, &t, 0));
        }
        modules::AP_FREE_TAXES(nullptr, &p.paidTaxes);
    }
}

// The stored tax entries of a distribution on file, in key order.
void LoadStoredTaxes(uint16_t apm, modlibs::DistImage& d) {
    modlibs::TaxEntry key;
    key.vendor = d.vendor;
    key.invoice = d.invoice;
    key.distSequence = d.distSequence;
    if (!Put(modules::AP_PUT_ORIGINAL_TAX(apm, nullptr, nullptr, &key, 1))) return;
    for (int read = xio_rd_ge(apm, kRecOpenTax, 0, 0); read == XIO_OK; read = xio_rd_next(apm, kRecOpenTax, 0, 0)) {
        modlibs::TaxEntry entry;
        modules::AP_GET_ORIGINAL_TAX(apm, &entry, 0);
        if (entry.distSequence != d.distSequence || !xvl::equalNoCase(entry.invoice, d.invoice) ||
            !xvl::equalNoCase(entry.vendor, d.vendor))
            break;
        d.taxes.push_back(std::move(entry));
    }
}

// The date of the check that made payment `p`: from the group's checks, or from the
// cross-reference when the file's checks form groups of their own. Null when none is known.
const x_date_type* CheckDateOf(xvAPI& c, uint16_t apm, const modlibs::PaidDistImage& p) {
    if (!c.shape.hasChecks) {
        const auto check = std::find_if(c.checks.begin(), c.checks.end(), [&](const modlibs::CheckImage& k) {
            return k.check == p.check && xvl::equalNoCase(k.bank, p.bank);
        });
        return check != c.checks.end() ? &check->date : nullptr;
    }
    xio_init_record(apm, kRecCheck);
    convert::PutText(apm, kRecCheck, "CBANK", p.bank);
    convert::PutNumber(apm, kRecCheck, "CHECK", p.check);
    std::string key;
    c.RecordIdText(apm, key, kRecCheck);
    const CrossRefEntry* entry = c.crossRefMap.Find(key);
    return entry && !IsUnsetDate(c.crossRefMap.DateOf(*entry)) ? &c.crossRefMap.DateOf(*entry) : nullptr;
}

void PostInvoiceGroup(xvAPI& c, Group& g, GroupWriter& w, const AccountBuilder& build) {
    const uint16_t apm = g.apm, cmt = g.cmt;
    const bool withDists = c.shape.hasDistributions;
    modlibs::InvoiceImage& inv = c.invoiceImage;

    // 1. Checks.
    for (auto& k : c.checks) {
        if (w.Failed()) return;
        const char* prefix = "On AP Check: ";
        if (!NumberPayment(c, apm, k, w, prefix)) return;
        if (k.newCheck == 1) {
            w.New(apm, kRecCheck, prefix, modules::AP_PUT_CHECK_OLD(apm, &k, 0));
        } else {
            w.Replace(apm, kRecCheck, prefix, [&] { return Put(modules::AP_PUT_CHECK_OLD(apm, &k, 1)); },
                      [&] { return Put(modules::AP_PUT_CHECK_OLD(apm, &k, 0)); }, false);
        }
    }

    // 2. CM transactions: new ones, or those on file (with their cash detail) extended.
    for (auto& t : c.cmTransactions) {
        if (w.Failed() || cmt == 0) break;
        auto writeNew = [&] {
            WriteCMTransaction(t, cmt);
            if (w.New(cmt, kRecCmTransaction, "On CM Trans: ")) w.New(cmt, kRecCashDetail, "On CM Cash detail: ");
        };
        if (t.exists == 0) {
            writeNew();
            continue;
        }
        WriteCMTransaction(t, cmt);  // both keys in their buffers
        const int read = xio_rd_record(cmt, kRecCmTransaction, 0, 1);
        if (read == XIO_NOT_FOUND) {
            writeNew();
            continue;
        }
        if (read != XIO_OK) return (void)w.Fail("On CM Trans: ", Msg(12011));
        const bool detailOnFile = xio_rd_record(cmt, kRecCashDetail, 0, 1) == XIO_OK;
        const uint16_t savedTransaction = xio_save_record(cmt, kRecCmTransaction);
        const uint16_t savedDetail = detailOnFile ? xio_save_record(cmt, kRecCashDetail) : 0;
        WriteCMTransaction(t, cmt);
        w.Head().SetReplaceRecord(true);
        w.Head().SetImportedRecs(kRecCmTransaction);
        const bool transactionWritten = w.Write(cmt, kRecCmTransaction, "On CM Trans: ", true, savedTransaction);
        if (!transactionWritten) {
            if (savedDetail != 0) xio_unsave_record(cmt, savedDetail);
            if (detailOnFile) xio_unlock_record(cmt, kRecCashDetail, 1);
            return;
        }
        if (detailOnFile) {
            w.Head().SetReplaceRecord(true);
            w.Head().SetImportedRecs(kRecCashDetail);
            w.Write(cmt, kRecCashDetail, "On CM Cash detail: ", true, savedDetail);
        } else {
            w.New(cmt, kRecCashDetail, "On CM Cash detail: ");
        }
    }

    // 3. Banks: their last AP check (not written again when an earlier group left it so).
    for (const auto& b : c.banks) {
        if (w.Failed()) return;
        if (c.BankLastCheckKept(b, g.cmm)) continue;
        const bool written = w.Replace(g.cmm, kRecBankLastCheck, "On CM Bank: ",
                                       [&] {
                                           xio_init_record(g.cmm, kRecBankLastCheck);
                                           convert::PutText(g.cmm, kRecBankLastCheck, "LTBNKAC", b.bank);
                                           return true;
                                       },
                                       [&] {
                                           UpdateBankLastCheck(b, g.cmm);
                                           return true;
                                       },
                                       true);
        if (written) c.BankWritten(b, g.cmm);
    }
    if (w.Failed()) return;

    // 4. The invoice: new, or the one on file that the payments change.
    const char* invoicePrefix = "On Invoice: ";
    auto putInvoice = [&] { return Put(modules::AP_PUT_ORIGINAL_INV(apm, &inv, 0, 0)); };
    if (withDists) {
        w.New(apm, kRecInvoice, invoicePrefix, putInvoice() ? 0 : XIO_BAD_CALL);
    } else {
        w.Replace(apm, kRecInvoice, invoicePrefix, [&] { return Put(modules::AP_PUT_ORIGINAL_INV(apm, &inv, 1, 0)); },
                  putInvoice, true);
    }

    // 5. Distributions with their taxes and AP transactions.
    for (auto& [sequence, d] : c.DistributionMap) {
        if (w.Failed()) return;
        const char* distPrefix = "On Open dist: ";
        auto putDist = [&] { return Put(modules::AP_PUT_ORIGINAL_DST(apm, nullptr, &d, 0, 0, 0)); };
        if (withDists) {
            if (!w.New(apm, kRecDistribution, distPrefix, putDist() ? 0 : XIO_BAD_CALL)) return;
        } else if (!w.Replace(apm, kRecDistribution, distPrefix,
                              [&] { return Put(modules::AP_PUT_ORIGINAL_DST(apm, nullptr, &d, 1, 0, 0)); }, putDist,
                              true)) {
            return;
        }
        if (!IsBlank(d.taxGroup)) {
            if (withDists) {
                if (g.txm != 0) ComputeTaxes(g.txm, d, build);
            } else {
                LoadStoredTaxes(apm, d);
            }
            if (!d.taxes.empty()) PostPaidTaxes(c, apm, d, withDists, w);
            for (auto& entry : d.taxes) {
                if (w.Failed()) break;
                const char* taxPrefix = "On Open tax dist: ";
                auto putTax = [&] { return Put(modules::AP_PUT_ORIGINAL_TAX(apm, nullptr, nullptr, &entry, 0)); };
                if (withDists) {
                    w.New(apm, kRecOpenTax, taxPrefix, putTax() ? 0 : XIO_BAD_CALL);
                } else {
                    w.Replace(apm, kRecOpenTax, taxPrefix,
                              [&] { return Put(modules::AP_PUT_ORIGINAL_TAX(apm, nullptr, nullptr, &entry, 1)); },
                              putTax, true, false);
                }
            }
            modules::AP_FREE_TAXES(&d.taxes, nullptr);
            if (w.Failed()) return;
        }
        if (withDists) {
            modlibs::PostingRecord posting;
            BuildPostingRecord(posting, d, nullptr, nullptr, inv, c);
            w.New(g.apt, kRecTransaction, "On Open trans: ", modules::AP_PUT_TRANSACTION(g.apt, &posting, 0, 0));
        }
    }

    // 6. Paid invoices.
    for (auto& pi : c.paidInvoices) {
        if (w.Failed()) return;
        const char* prefix = "On Inv Payment: ";
        if (!NumberPayment(c, apm, pi, w, prefix)) return;
        w.New(apm, kRecPaidInvoice, prefix, modules::AP_PUT_PAID_INV(apm, &pi, 0, 0));
    }

    // 7. Paid distributions with their AP transactions, dated by their checks.
    for (const auto& p : c.paidDists) {
        if (w.Failed()) return;
        if (!w.New(apm, kRecDistPayment, "On Paid dist: ", modules::AP_PUT_PAID_DST(apm, nullptr, &p, 0))) return;
        const x_date_type* date = CheckDateOf(c, apm, p);
        const auto dist = c.DistributionMap.find(p.distSequence);
        if (!date || dist == c.DistributionMap.end()) return (void)w.Fail("On Paid trans: ", Msg(12011));
        modlibs::PostingRecord posting;
        BuildPostingRecord(posting, dist->second, &p, date, inv, c);
        w.New(g.apt, kRecTransaction, "On Paid trans: ", modules::AP_PUT_TRANSACTION(g.apt, &posting, 0, 0));
    }

    // 8. The vendor's 1099 totals by GL prefix, and 9. the vendor: kept as the file would store
    // them, and written when the file ends.
    if (w.Failed()) return;
    for (const auto& totals : c.prefixTotals) {
        xio_init_record(apm, kRecPrefixTotals);
        WritePrefixTotals(totals, apm);
        c.PrefixTotalsWritten(apm);
    }
    if (IsBlank(c.vendorImage.vendor)) return;
    xio_init_record(apm, kRecVendor);
    if (!Put(modules::AP_PUT_VENDOR(apm, &c.vendorImage, 0, 0))) return (void)w.Fail("On Vendor: ", Msg(12011));
    c.VendorWritten(apm);
}

}  // namespace

bool xvAPI::WriteKeptTotals(convert::ConvertContext& ctx) {
    const uint16_t apm = ctx.mainHandle;
    auto ended = [&](int status) {
        return EndFile(ctx, Msg(status == XIO_DISK_FULL ? 12013 : 12011), true, true);
    };
    // A vendor was read from the file: it must still be there.
    for (const std::string& key : vendorsDue_) {
        const auto known = vendors_.find(key);
        if (known == vendors_.end() || !known->second) continue;
        const modlibs::VendorImage& vendor = *known->second;
        xio_init_record(apm, kRecVendor);
        convert::PutText(apm, kRecVendor, "VENDOR", vendor.vendor);
        int status = xio_rd_record(apm, kRecVendor, 0, 1);
        if (status == XIO_OK)
            status = Put(modules::AP_PUT_VENDOR(apm, &vendor, 0, 0)) ? xio_rep_record(apm, kRecVendor) : XIO_BAD_CALL;
        if (status != XIO_OK) return ended(status);
    }
    // Prefix totals replace those on file, keeping the fields no image carries, or are new.
    for (const std::string& key : totalsDue_) {
        const auto known = totalsOnFile_.find(key);
        if (known == totalsOnFile_.end()) continue;
        const PrefixTotalsImage& totals = known->second.image;
        xio_init_record(apm, kRecPrefixTotals);
        WritePrefixTotals(totals, apm);
        int status = xio_rd_record(apm, kRecPrefixTotals, 0, 1);
        if (status == XIO_NOT_FOUND) xio_init_record(apm, kRecPrefixTotals);
        if (status == XIO_OK || status == XIO_NOT_FOUND) {
            WritePrefixTotals(totals, apm);
            status = status == XIO_OK ? xio_rep_record(apm, kRecPrefixTotals) : xio_wr_record(apm, kRecPrefixTotals);
        }
        if (status != XIO_OK) return ended(status);
    }
    vendorsDue_.clear();
    totalsDue_.clear();
    return true;
}

LastShare::LastShare(double reference) : reference_(std::llround(reference)) {}

bool LastShare::Add(double paid64) {
    if (paid64 == 0) return false;
    running_ += static_cast<int64_t>(std::trunc(paid64));
    return running_ == reference_;
}

bool xvAPI::PostGroup(GroupCallbackContext& group, xvl::xvlImpInfo& info, std::string& reason, int& endMessage) {
    endMessage = 0;
    reason.clear();
    const uint16_t apm = group.apm, cmt = group.cmt;
    GroupWriter w(*this, info, reason, postUndo_);
    // Every tax list of the group is consumed, written or not.
    auto freeTaxes = [&] {
        for (auto& [sequence, d] : DistributionMap) modules::AP_FREE_TAXES(&d.taxes, nullptr);
        for (auto& p : paidDists) modules::AP_FREE_TAXES(nullptr, &p.paidTaxes);
    };

    if (info.GroupImportedRec() == kRecCheck) {
        if (!checks.empty() && !IsBlank(checks.front().application)) {
            w.New(apm, kRecCheck, "On AP Check: ", modules::AP_PUT_CHECK_OLD(apm, &checks.front(), 0));
        }
        for (auto& t : cmTransactions) {
            if (w.Failed() || cmt == 0) break;
            // A check of its own carries no cash account: it is the bank's.
            if (IsBlank(t.detail.cashAccount)) {
                const auto bank = std::find_if(banks.begin(), banks.end(), [&](const BankImage& b) {
                    return xvl::equalNoCase(b.bank, t.transaction.bank);
                });
                if (bank != banks.end() && !bank->cashIsBase) t.transaction.glCredit = t.detail.cashAccount = bank->cashAccount;
            }
            WriteCMTransaction(t, cmt);
            if (w.New(cmt, kRecCmTransaction, "On CM Trans: ")) w.New(cmt, kRecCashDetail, "On CM Cash detail: ");
        }
    } else if (info.GroupImportedRec() == kRecInvoice) {
        PostInvoiceGroup(*this, group, w, [&](std::string& out, const std::string& prefix, const std::string& base) {
            BuildAccount(group.glm, out, prefix, base);
        });
    }
    freeTaxes();
    SettleWrites(!w.Failed());
    if (!w.Failed()) return true;
    // Part of the group staying (the undo failed) or a full disk ends the file: a lack of space,
    // whether the group's writes or the undo met it, is said as such.
    const bool undone = w.Undo();
    if (w.DiskFull()) endMessage = 12013;
    else if (!undone) endMessage = 12011;
    return false;
}

}  // namespace dz::ap
