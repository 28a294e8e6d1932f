// The amount-sign check of AP records: an invoice's or distribution's amounts on one side
// (original or paid) must share a sign, and the deductions still to be taken must not exceed
// what is still owed. The checks only judge; each caller words its own message.
#pragma once

#include "platform/modlibs/ap_images.h"

#include <array>
#include <cstdint>
#include <string>

namespace dz::ap {

// Thirteen amounts in hundredths, by slot, and whether the set holds a payment record.
struct AmountSet {
    enum Slot : std::size_t {
        kAmount = 0,
        kAmountPaid = 1,
        kAmt64 = 2,
        kAmt64Paid = 3,
        kDiscount = 4,
        kDiscountTaken = 5,
        kDiscountLost = 6,
        kAmt63 = 7,
        kAmt63Applied = 8,
        kTax = 9,
        kTaxPaid = 10,
        kTaxLiability = 11,
        kTaxLiabilityApplied = 12,
    };
    std::array<double, 13> amounts{};
    uint8_t paid = 0;  // 1: a payment record, judged on its paid side only

    // The six amounts of the side the checks judge, in the order amount, 64-amount, discount,
    // 63-amount, tax, tax liability.
    std::array<double, 6> JudgedSide() const;
};

// Fill `set` from one image (slots the image lacks stay as they were) and return it.
AmountSet& LoadAmountSet(AmountSet& set, const modlibs::DistImage& dist);
AmountSet& LoadAmountSet(AmountSet& set, const modlibs::InvoiceImage& invoice);
AmountSet& LoadAmountSet(AmountSet& set, const modlibs::PaidDistImage& paid);
AmountSet& LoadAmountSet(AmountSet& set, const modlibs::PaidInvoiceImage& paid);

// True when the judged side's amounts are all >= 0 or all <= 0 (zero goes with either sign).
bool CheckAmountSigns(const AmountSet& set);
// True when the outstanding deductions (64-amount, discount less taken and lost, 63-amount, each
// against what was paid or applied, as magnitudes) do not exceed the outstanding amount.
bool CheckPaymentAmountSigns(const AmountSet& set);
double AbsoluteAmount(double amount);

// The example a mixed-sign message shows: " (i.e. <first negative> and <first positive>)" in
// the judged order, each as "%.2f" of hundredths; empty when either is missing.
std::string SignExample(const AmountSet& set);

}  // namespace dz::ap
