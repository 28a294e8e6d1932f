// The taxes of AP distributions: a distribution's tax split over the components of its tax group
// (tax master record 2) in proportion to their rates, and each payment's share of those parts.
// Every part is rounded to the cent when it is computed and the last entry of a list takes what
// rounding left, so the parts always add up exactly to the amount they split.
#pragma once

#include "platform/modlibs/ap_images.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace dz::ap {

// One component of a tax group: GTAXk and its rate, accounts and not-a-cost flag.
struct TaxComponent {
    std::string tax;
    double rate = 0;  // ten-thousandths of a percent
    std::string debitAccount, creditAccount, liabilityDebit, liabilityCredit;
    uint16_t notCost = 0;
};

// Tax master record 2.
struct TaxGroupRecord {
    std::string group;
    double rate = 0;  // GRATE
    std::array<TaxComponent, 9> components;
};

// Reads the tax group `group` (no lock). False, with `out` cleared, when it is not on file.
bool ReadTaxGroup(uint16_t txm, const std::string& group, TaxGroupRecord& out);

// Component `k` (1 to 9) and its share of the group rate (0 when the group rate is 0). A `k`
// outside 1 to 9 leaves both outputs unchanged.
void TaxGroupComponent(const TaxGroupRecord& group, int k, TaxComponent& component, double& fraction);

// Forms `account` from a GL prefix and a base account; leaves it unchanged when it cannot.
using AccountBuilder =
    std::function<void(std::string& account, const std::string& prefix, const std::string& base)>;

// Appends component k's entry to the distribution's tax list, unless the group has no tax there.
void ComputeTaxComponent(const AccountBuilder& build, modlibs::DistImage& dist, const TaxGroupRecord& group, int k);

// Rebuilds the distribution's tax list from its tax group (empty when the group is not on file).
void ComputeTaxes(uint16_t txm, modlibs::DistImage& dist, const AccountBuilder& build);

// Builds the paid tax entries of `paid`, one payment of `dist`, from the distribution's tax list:
// each entry's share by the payment's tax paid and tax liability applied. The payment that is
// the `last` share takes what the earlier ones left of the parts on the 64-amount.
void SumTaxList(modlibs::PaidDistImage& paid, modlibs::DistImage& dist, bool last);

}  // namespace dz::ap
