// An invoice group after its last record: the payments turned into paid invoices, the paid totals
// of every distribution and of the invoice recomputed, overpayments and mixed signs refused,
// statuses and flag words settled, each distribution's references checked, the vendor's totals
// and the terms dates filled, the first lines of the AP-settings notes kept, and last what the
// first pass found against the invoice.
#include "converters/ap/xvapi.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapi_amounts.h"
#include "converters/ap/xvapi_complete.h"
#include "converters/ap/xvapi_references.h"
#include "modules/entries.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/xd.h"

#include <algorithm>
#include <array>
#include <span>

namespace dz::ap {

using namespace convert;

namespace {

constexpr uint16_t kOpen = 1, kNotOpen = 4;

// The amounts the overpayment tests compare, of a distribution or of the invoice.
struct Owed {
    double amount, tax, discount, amt64, amt63;
    double paid, taxPaid, discountTaken, discountLost, amt64Held, amt64Paid, amt63Applied;
};

Owed OwedOf(const modlibs::DistImage& d) {
    return {d.amount,     d.tax,           d.discountOffered, d.amt64,     d.amt63,     d.amountPaid,
            d.taxPaid,    d.discountTaken, d.discountLost,    d.amt64Held, d.amt64Paid, d.amt63Applied};
}

Owed OwedOf(const modlibs::InvoiceImage& i) {
    return {i.amount,  i.tax,           i.discountOffered, i.amt64,     i.amt63,     i.amountPaid,
            i.taxPaid, i.discountTaken, i.discountLost,    i.amt64Held, i.amt64Paid, i.amt63Applied};
}

// The first overpayment of `o` named by `label()`; empty when none (only positive amounts are
// tested: a credit is paid in negative amounts). The texts are made only for a message.
template <class Label>
std::string Overpayment(const Label& label, const Owed& o) {
    if (o.amount <= 0) return {};
    if (o.paid > o.amount) return Msg(12723, label(), Amount(o.paid), Amount(o.amount));
    if (o.taxPaid > o.tax) return Msg(12724, label(), Amount(o.taxPaid), Amount(o.tax));
    if (o.discountTaken + o.discountLost > o.discount)
        return Msg(12725, label(), Amount(o.discountTaken + o.discountLost), Amount(o.discount));
    if (o.amt64Held > o.amt64)
        return Msg(12726, label(), TermCap(64), Amount(o.amt64Held), TermCap(64), Amount(o.amt64));
    if (o.amt64Paid > o.amt64)
        return Msg(12727, label(), TermCap(64), Amount(o.amt64Paid), TermCap(64), Amount(o.amt64));
    if (o.paid - o.amt64Paid > o.amount - o.amt64)
        return Msg(12728, label(), Term(64), Amount(o.paid - o.amt64Paid), Term(64), Amount(o.amount - o.amt64));
    if (o.amt63Applied > o.amt63)
        return Msg(12729, label(), TermCap(63), Amount(o.amt63Applied), TermCap(63), Amount(o.amt63));
    if (o.amt64 > o.amount) return Msg(12730, label(), TermCap(64), Amount(o.amt64), Amount(o.amount));
    if (o.tax > o.amount) return Msg(12731, label(), Amount(o.tax), Amount(o.amount));
    return {};
}

// The labels of the paid amounts (PaidSet's order; `ofInvoice` PaidOf's, whose discounts are
// shorter), made only for a message.
std::string PaidLabel(std::size_t k, bool ofInvoice) {
    switch (k) {
        case 0: return "Amount paid";
        case 1: return "Tax paid";
        case 2: return ofInvoice ? "Disc taken" : "Tax liability accounted";
        case 3: return ofInvoice ? "Disc lost" : "Discount taken";
        case 4: return ofInvoice ? TermCap(64) + " held" : "Discount lost";
        case 5: return TermCap(64) + (ofInvoice ? " paid" : " held");
        case 6: return ofInvoice ? TermCap(63) + " applied" : TermCap(64) + " paid";
        case 7: return ofInvoice ? TermCap(128) + " deducted" : TermCap(63) + " applied";
        default: return TermCap(128) + " deducted";
    }
}

// " (i.e. <first positive> and <first negative>)" of the amounts the sign check judged.
std::string PositiveAndNegative(const AmountSet& set) {
    const auto side = set.JudgedSide();
    const auto positive = std::find_if(side.begin(), side.end(), [](double v) { return v > 0; });
    const auto negative = std::find_if(side.begin(), side.end(), [](double v) { return v < 0; });
    if (positive == side.end() || negative == side.end()) return {};
    return " (i.e. " + Amount(*positive) + " and " + Amount(*negative) + ")";
}

// The nine paid amounts of a distribution, or of a payment of one, in their order.
std::array<double*, 9> PaidSet(modlibs::DistImage& d) {
    return {&d.amountPaid, &d.taxPaid,   &d.taxLiabilityAccounted, &d.discountTaken, &d.discountLost,
            &d.amt64Held,  &d.amt64Paid, &d.amt63Applied,          &d.amt128Deducted};
}
std::array<double*, 9> PaidSet(modlibs::PaidDistImage& p) {
    return {&p.amountPaid, &p.taxPaid,   &p.taxLiabilityApplied, &p.discountTaken, &p.discountLost,
            &p.amt64Held,  &p.amt64Paid, &p.amt63Applied,        &p.amt128Deducted};
}

// The eight of them an invoice carries (all but the tax liability accounted).
template <class Image>
std::array<double*, 8> PaidOf(Image& x) {
    const auto nine = PaidSet(x);
    return {nine[0], nine[1], nine[3], nine[4], nine[5], nine[6], nine[7], nine[8]};
}
std::array<double*, 8> PaidOf(modlibs::InvoiceImage& i) {
    return {&i.amountPaid, &i.taxPaid,   &i.discountTaken, &i.discountLost,
            &i.amt64Held,  &i.amt64Paid, &i.amt63Applied,  &i.amt128Deducted};
}
std::array<double*, 8> PaidOf(modlibs::PaidInvoiceImage& p) {
    return {&p.amountPaid, &p.taxPaid,   &p.discountTaken, &p.discountLost,
            &p.amt64Held,  &p.amt64Paid, &p.amt63Applied,  &p.amt128Deducted};
}

}  // namespace

void DateFromTerms(x_date_type& date, const x_date_type& base, int days, uint16_t method) {
    if (days == 0) return;
    date = base;
    if (method == 1) {
        suite::xd_offset_date(date, 0, days);
    } else if (method == 2) {
        // The given day of this month, or of the next once this month's has come.
        if (days <= date.day) suite::xd_offset_date(date, 1, 0);
        date.day = static_cast<uint16_t>(std::min(days, suite::xd_month_length(date)));
    }
}

bool xvAPI::CompleteInvoice(GroupCallbackContext& group, const xvl::xvlImpInfo& head, std::string& reason) {
    const bool converting = group.converting;
    const bool withDists = shape.hasDistributions;
    const bool vendorFound = !IsBlank(vendorImage.vendor);
    modlibs::InvoiceImage& inv = invoiceImage;
    auto reject = [&](std::string text) {
        reason = std::move(text);
        return false;
    };
    auto warn = [&](std::string text) { group.messages->push_back(std::move(text)); };

    // 1. One paid invoice per bank and check.
    for (auto& p : paidDists) {
        auto it = std::find_if(paidInvoices.begin(), paidInvoices.end(), [&](const modlibs::PaidInvoiceImage& pi) {
            return pi.check == p.check && xvl::equalNoCase(pi.bank, p.bank);
        });
        if (it == paidInvoices.end()) {
            modlibs::PaidInvoiceImage pi;
            pi.vendor = p.vendor;
            pi.invoice = p.invoice;
            pi.paymentNumber = p.paymentNumber;
            pi.bank = p.bank;
            pi.check = p.check;
            pi.description = inv.description;
            pi.paidFlag = 1;
            pi.glJournal = GLPJRN;
            it = paidInvoices.insert(paidInvoices.end(), std::move(pi));
        }
        const auto to = PaidOf(*it);
        const auto from = PaidOf(p);
        for (std::size_t k = 0; k < to.size(); ++k) *to[k] += *from[k];
    }
    // 2. A paid invoice pays in one sign.
    for (auto& pi : paidInvoices) {
        pi.grossPayment = pi.amountPaid;
        AmountSet set;
        if (!CheckAmountSigns(LoadAmountSet(set, pi)))
            return reject(Msg(12800, "Paid Invoice" + FormatNumber(" %.0f", pi.check), PositiveAndNegative(set)));
    }

    // 3. The distributions' paid totals from their payments, their statuses and references.
    const uint16_t vendorWord = vendorFound ? vendorImage.flagWord : 0;
    const uint16_t invoiceWord = inv.flagWord;
    bool reopened = false;
    for (auto& [sequence, d] : DistributionMap) {
        const auto paid = PaidSet(d);
        std::array<double, 9> kept{};
        if (withDists)
            for (std::size_t k = 0; k < paid.size(); ++k) kept[k] = *paid[k], *paid[k] = 0;
        for (auto& p : paidDists) {
            if (p.distSequence != d.distSequence) continue;
            const auto from = PaidSet(p);
            for (std::size_t k = 0; k < paid.size(); ++k) *paid[k] += *from[k];
        }
        auto seq = [&] { return FormatInt("%d", static_cast<int16_t>(d.distSequence)); };
        for (std::size_t k = 0; k < paid.size(); ++k)
            if (kept[k] != 0 && kept[k] != *paid[k])
                warn(Msg(12722, PaidLabel(k, false), seq(), ModeWord("has changed/will change", converting),
                         Amount(kept[k]), Amount(*paid[k]), ModeWord("1651/1652", converting)));
        if (std::string over = Overpayment([&] { return "Distribution " + seq(); }, OwedOf(d)); !over.empty())
            return reject(std::move(over));

        d.statusFlags = modules::AP_ORIG_STATUS(nullptr, &d);
        if ((d.statusFlags & modlibs::kApStatusOpen) == 0) {
            d.status = kNotOpen;
        } else {
            // Only a status the text gave can have changed: a new distribution has none.
            if (d.status != kOpen && d.status != 0 && !reopened) {
                reopened = true;
                if (withDists)
                    warn(Msg(12712, ModeWord("was/will be", converting), ModeWord("1637/1638", converting)));
            }
            d.status = kOpen;
        }
        if (d.status == kNotOpen && d.flagWord != 0)
            d.flagWord = 0;
        else
            d.flagWord = static_cast<uint16_t>(vendorWord + invoiceWord + (invoiceWord >= 4 ? 4 : 0));
        if (withDists && !CheckDistributionReferences(*this, d, group, reason)) return false;
    }
    // 4.
    if (withDists && DistributionMap.empty()) return reject(Msg(12703, groupInvoiceId));

    // 5. The invoice's totals from its distributions; 6. told where they differ from the text's.
    // The invoice's own totals (with distributions), then its paid amounts; labelled by
    // totalLabel only for a message.
    const auto invoicePaid = PaidOf(inv);
    const std::array<double*, 5> own = {&inv.amount, &inv.tax, &inv.discountOffered, &inv.amt64, &inv.amt63};
    std::array<double*, own.size() + invoicePaid.size()> all{};
    std::size_t count = 0;
    if (withDists)
        for (double* v : own) all[count++] = v;
    const std::size_t firstPaid = count;
    for (double* v : invoicePaid) all[count++] = v;
    const std::span<double* const> totals(all.data(), count);
    auto totalLabel = [&](std::size_t k) -> std::string {
        if (k >= firstPaid) return PaidLabel(k - firstPaid, true);
        switch (k) {
            case 0: return "Amount";
            case 1: return "Tax";
            case 2: return "Disc offered";
            case 3: return TermCap(64);
            default: return TermCap(63);
        }
    };
    std::array<double, all.size()> keptTotals{};
    for (std::size_t k = 0; k < totals.size(); ++k) keptTotals[k] = *totals[k], *totals[k] = 0;
    for (auto& [sequence, d] : DistributionMap) {
        if (withDists) {
            inv.amount += d.amount;
            inv.tax += d.tax;
            inv.discountOffered += d.discountOffered;
            inv.amt64 += d.amt64;
            inv.amt63 += d.amt63;
        }
        const auto from = PaidOf(d);
        for (std::size_t k = 0; k < invoicePaid.size(); ++k) *invoicePaid[k] += *from[k];
    }
    for (std::size_t k = 0; k < totals.size(); ++k)
        if (keptTotals[k] != 0 && keptTotals[k] != *totals[k])
            warn(Msg(12702, totalLabel(k), ModeWord("has changed/will change", converting), Amount(keptTotals[k]),
                     Amount(*totals[k]), ModeWord("1620/1621", converting)));
    // 9 before 7: amounts of both signs are told as such rather than as an overpayment of the
    // negative one (a tax of -1.00 would be "exceeded" by a tax paid of 0).
    AmountSet set;
    LoadAmountSet(set, inv);
    if (withDists && !CheckAmountSigns(set)) return reject(Msg(12800, "Invoice", PositiveAndNegative(set)));
    // 7.
    if (std::string over = Overpayment([] { return std::string("Total Invoice"); }, OwedOf(inv)); !over.empty())
        return reject(std::move(over));
    // 8. Deductions still to take may not exceed what is still owed.
    if (!CheckPaymentAmountSigns(set)) {
        const double deductions = (inv.amt64 - inv.amt64Paid) +
                                  (inv.discountOffered - (inv.discountTaken + inv.discountLost)) +
                                  (inv.amt63 - inv.amt63Applied);
        return reject(Msg(12801, Amount(deductions), Amount(inv.amount - inv.amountPaid)));
    }

    // 10. The vendor's running totals and the fiscal year's invoiced amount.
    if (withDists && vendorFound) {
        vendorImage.openAmount += inv.amount;
        vendorImage.availableDiscount += inv.discountOffered;
        vendorImage.amountHeld += inv.amt64;
        vendorImage.unappliedDeduction += inv.amt63;
        vendorImage.lastInvoice = inv.invoice;
        vendorImage.lastInvoiceDate = inv.invoiceDate;
        vendorImage.lastInvoiceAmount = inv.amount;
        if (converting && paidTotalsMode != 3) {
            modlibs::VendorImage& v = vendorImage;
            if (double* invoiced = InYear(YearOf(inv.accountingDate, YREND), v.tyInvoiced, v.lyInvoiced, v.nyInvoiced))
                *invoiced += inv.amount;
        }
    }
    // 11. The invoice's status.
    inv.statusFlags = modules::AP_ORIG_STATUS(&inv, nullptr);
    if ((inv.statusFlags & modlibs::kApStatusOpen) == 0) {
        inv.status = kNotOpen;
    } else {
        if (inv.status != kOpen && inv.status != 0 && withDists)
            warn(Msg(12701, groupInvoiceId, ModeWord("was/will be", converting), ModeWord("1617/1618", converting)));
        inv.status = kOpen;
    }
    // 12. The vendor and the terms dates.
    if (withDists) {
        if (!vendorFound) {
            if (inv.status != kNotOpen) return reject(Msg(12690, inv.vendor));
            warn(Msg(12751, inv.vendor));
        }
        const x_date_type& base = DTBASE == 1 ? inv.invoiceDate : inv.dateReceived;
        if (IsUnsetDate(inv.paymentDate) && (PMTDTU == 1 || PMTDTU == 3))
            DateFromTerms(inv.paymentDate, base, vendorFound ? Whole(vendorImage.paymentDays) : 0,
                          vendorFound ? vendorImage.paymentDaysType : 1);
        if (IsUnsetDate(inv.discountDate) &&
            (inv.discountOffered != 0 || (vendorFound && vendorImage.discountPercent != 0 && DSCLVL == 1)))
            DateFromTerms(inv.discountDate, base, vendorFound ? Whole(vendorImage.discountDays) : 0, 1);
    }
    // 13. The invoice's flag word.
    if (inv.status == kNotOpen) inv.flagWord = inv.flagWord == 0 ? vendorWord : 0;
    else inv.flagWord = inv.flagWord == 0 ? vendorWord : static_cast<uint16_t>(vendorWord + 2);
    // 14. The first line of each AP-settings note.
    if (withDists) {
        const auto line = static_cast<uint32_t>(head.GroupStartLine());
        auto note = [&](uint32_t& member, bool holds) {
            if (holds && member == 0) member = line;
        };
        if (DTRCVU == 3 && IsUnsetDate(inv.dateReceived)) note(dateReceivedBlankLine, true);
        else note(dateReceivedUnusedLine, DTRCVU == 1 && !IsUnsetDate(inv.dateReceived));
        note(paymentDateBlankLine, PMTDTU == 3 && inv.amount - inv.tax != 0 && IsUnsetDate(inv.paymentDate));
        note(approvalUnusedLine, inv.approved != 0 && USEAPVL == 0);
        note(discountUnusedLine, inv.discountOffered != 0 && DSCLVL == 1);
        note(deductionUnusedLine, inv.amt63 != 0 && MDLVL == 1);
    }
    // 15. What the first pass found against the invoice.
    return LookupInvoice(group.apm, reason, group.pass1);
}

}  // namespace dz::ap
