// What one distribution of an AP invoice group points to in the other data files: its bank (filled
// in when the AP settings assign banks), its job cost references, its GL accounts, its commitment
// item and its tax group. A reference that is not found rejects the group, except on a
// distribution that is not open, where it is only a warning.
#pragma once

#include "converters/ap/xvapi.h"

#include <string>

namespace dz::ap {

// Checks the references of `dist` with the files and mode of `group`; warnings go to the group's
// message list. False rejects the group with `reason`. A missing tax group is listed in the
// converter's tax-group note in the second pass and, in Convert, created with the tax "XV Tax"
// (a failed write rejects with 12011).
bool CheckDistributionReferences(xvAPI& converter, modlibs::DistImage& dist, const xvAPI::GroupCallbackContext& group,
                                 std::string& reason);

// Unit costs compare as whole ten-thousandths of a currency unit: the distribution's (cents
// times 1,000,000 per unit) against a commitment item's (ten-thousandths).
bool SameUnitCost(double distUnitCost, double itemUnitCost);

}  // namespace dz::ap
