#include "converters/ap/xvapi_amounts.h"

#include "convert/record_fields.h"

#include <cmath>

namespace dz::ap {

std::array<double, 6> AmountSet::JudgedSide() const {
    if (paid)
        return {amounts[kAmountPaid], amounts[kAmt64Paid], amounts[kDiscountTaken],
                amounts[kAmt63Applied], amounts[kTaxPaid], amounts[kTaxLiabilityApplied]};
    return {amounts[kAmount], amounts[kAmt64], amounts[kDiscount],
            amounts[kAmt63],  amounts[kTax],   amounts[kTaxLiability]};
}

namespace {

// The amounts invoices and distributions both carry, on both sides.
template <class Image>
AmountSet& LoadOriginal(AmountSet& s, const Image& i) {
    auto& a = s.amounts;
    a[AmountSet::kAmount] = i.amount;
    a[AmountSet::kAmountPaid] = i.amountPaid;
    a[AmountSet::kAmt64] = i.amt64;
    a[AmountSet::kAmt64Paid] = i.amt64Paid;
    a[AmountSet::kDiscount] = i.discountOffered;
    a[AmountSet::kDiscountTaken] = i.discountTaken;
    a[AmountSet::kDiscountLost] = i.discountLost;
    a[AmountSet::kAmt63] = i.amt63;
    a[AmountSet::kAmt63Applied] = i.amt63Applied;
    a[AmountSet::kTax] = i.tax;
    a[AmountSet::kTaxPaid] = i.taxPaid;
    s.paid = 0;
    return s;
}

// The paid amounts of paid invoices and paid distributions.
template <class Image>
AmountSet& LoadPaid(AmountSet& s, const Image& p) {
    auto& a = s.amounts;
    a[AmountSet::kAmountPaid] = p.amountPaid;
    a[AmountSet::kAmt64Paid] = p.amt64Paid;
    a[AmountSet::kDiscountTaken] = p.discountTaken;
    a[AmountSet::kAmt63Applied] = p.amt63Applied;
    a[AmountSet::kTaxPaid] = p.taxPaid;
    s.paid = 1;
    return s;
}

}  // namespace

AmountSet& LoadAmountSet(AmountSet& s, const modlibs::DistImage& d) {
    s.amounts[AmountSet::kTaxLiability] = d.taxLiability;
    s.amounts[AmountSet::kTaxLiabilityApplied] = d.taxLiabilityAccounted;
    return LoadOriginal(s, d);
}

AmountSet& LoadAmountSet(AmountSet& s, const modlibs::InvoiceImage& i) { return LoadOriginal(s, i); }

AmountSet& LoadAmountSet(AmountSet& s, const modlibs::PaidDistImage& p) {
    s.amounts[AmountSet::kTaxLiabilityApplied] = p.taxLiabilityApplied;
    return LoadPaid(s, p);
}

AmountSet& LoadAmountSet(AmountSet& s, const modlibs::PaidInvoiceImage& p) { return LoadPaid(s, p); }

bool CheckAmountSigns(const AmountSet& set) {
    bool negative = false, positive = false;
    for (const double v : set.JudgedSide()) {
        negative = negative || v < 0;
        positive = positive || v > 0;
    }
    return !(negative && positive);
}

bool CheckPaymentAmountSigns(const AmountSet& set) {
    const auto& a = set.amounts;
    const double open = AbsoluteAmount(a[AmountSet::kAmount] - a[AmountSet::kAmountPaid]);
    const double d1 = AbsoluteAmount(a[AmountSet::kAmt64] - a[AmountSet::kAmt64Paid]);
    const double d2 =
        AbsoluteAmount(a[AmountSet::kDiscount] - (a[AmountSet::kDiscountTaken] + a[AmountSet::kDiscountLost]));
    const double d3 = AbsoluteAmount(a[AmountSet::kAmt63] - a[AmountSet::kAmt63Applied]);
    return !(d1 + d2 + d3 > open);
}

double AbsoluteAmount(double amount) { return std::fabs(amount); }

std::string SignExample(const AmountSet& set) {
    const double* negative = nullptr;
    const double* positive = nullptr;
    const auto side = set.JudgedSide();
    for (const double& v : side) {
        if (v < 0 && !negative) negative = &v;
        if (v > 0 && !positive) positive = &v;
    }
    if (!negative || !positive) return {};
    return " (i.e. " + convert::Amount(*negative) + " and " + convert::Amount(*positive) + ")";
}

}  // namespace dz::ap
