// What an invoice and a payment add to their vendor's totals of a year. A converted payment adds
// through its handler; the rebuild of a run that clears the paid totals sums everything on file
// the same way, so that both arrive at the same totals.
#pragma once

#include "converters/ap/xvapi_posting.h"
#include "platform/modlibs/ap_images.h"

namespace dz::ap {

// The part of payment `p` that counts in its vendor's 1099 amount: the gross payment less the
// discount taken and the tax paid, and less the deduction applied unless deductions stay inside
// the 1099 amount (`deductionsIn1099`, the MD1099 setting).
double Amount1099(const modlibs::PaidDistImage& p, bool deductionsIn1099);

// Adds an invoice's amount to the invoiced total of `year`.
void AddInvoiced(modlibs::VendorImage& vendor, YearBucket year, double amount);

// Adds payment `p` to the five paid totals of `year` (paid and discount, discount taken, paid,
// deduction applied, gross payment) and `amount1099` with the payment's amount deducted to the
// 1099 totals of `year1099` (None for a distribution exempt from 1099).
void AddPaid(modlibs::VendorImage& vendor, const modlibs::PaidDistImage& p, YearBucket year, YearBucket year1099,
             double amount1099);

}  // namespace dz::ap
