// The terms dates of an AP invoice.
#pragma once

#include "platform/datafile/x_value.h"

#include <cstdint>

namespace dz::ap {

// Sets `date` from the vendor's terms: `days` after `base` (method 1), or day `days` of the
// base's month, of the next month once the base has reached that day, and no later than the
// month's last day (method 2). Any other method gives the base date; no days leave `date` as it is.
void DateFromTerms(x_date_type& date, const x_date_type& base, int days, uint16_t method);

}  // namespace dz::ap
