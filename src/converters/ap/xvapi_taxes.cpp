#include "converters/ap/xvapi_taxes.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "modules/entries.h"
#include "platform/datafile/xio.h"
#include "platform/suite/xk.h"
#include "platform/suite/zc.h"

namespace dz::ap {

namespace {

constexpr uint16_t kRecTaxGroup = 2;

double Ratio(double part, double whole) { return whole == 0 ? 0 : part / whole; }

}  // namespace

bool ReadTaxGroup(uint16_t txm, const std::string& group, TaxGroupRecord& out) {
    out = {};
    xio_init_record(txm, kRecTaxGroup);
    if (!convert::ReadByKeys(txm, kRecTaxGroup, {{"GROUP", group}})) return false;
    auto text = [&](const std::string& name) { return convert::GetText(txm, kRecTaxGroup, name.c_str()); };
    auto number = [&](const std::string& name) { return convert::GetNumber(txm, kRecTaxGroup, name.c_str()); };
    out.group = text("GROUP");
    out.rate = number("GRATE");
    for (std::size_t i = 0; i < out.components.size(); ++i) {
        const std::string k = "GTAX" + std::to_string(i + 1);
        TaxComponent& c = out.components[i];
        c.tax = text(k);
        c.rate = number(k + "RT");
        c.debitAccount = text(k + "DA");
        c.creditAccount = text(k + "CA");
        c.liabilityDebit = text(k + "RD");
        c.liabilityCredit = text(k + "RC");
        c.notCost = convert::GetFlag(txm, kRecTaxGroup, (k + "NC").c_str());
    }
    return true;
}

void TaxGroupComponent(const TaxGroupRecord& group, int k, TaxComponent& component, double& fraction) {
    if (k < 1 || k > static_cast<int>(group.components.size())) return;
    component = group.components[static_cast<std::size_t>(k - 1)];
    fraction = Ratio(component.rate, group.rate);
}

void ComputeTaxComponent(const AccountBuilder& build, modlibs::DistImage& dist, const TaxGroupRecord& group, int k) {
    std::string prefix = dist.expenseAccount;
    if (!convert::IsBlank(prefix)) suite::xk_get_section(suite::kGlAccountFormat, false, suite::kGlPrefix, prefix);
    TaxComponent component;
    double fraction = 0;
    TaxGroupComponent(group, k, component, fraction);
    if (convert::IsBlank(component.tax)) return;  // an unused component is skipped, not the end

    modlibs::TaxEntry entry;
    entry.vendor = dist.vendor;
    entry.invoice = dist.invoice;
    entry.distSequence = dist.distSequence;
    entry.component = static_cast<uint16_t>(k);
    entry.tax = component.tax;
    entry.rate = component.rate;
    entry.notCost = component.notCost;
    entry.amount = suite::zc_round(dist.tax * fraction);
    entry.liability = suite::zc_round(dist.taxLiability * fraction);
    build(entry.debitAccount, prefix, component.debitAccount);
    if (dist.taxLiability != 0) build(entry.creditAccount, prefix, component.creditAccount);
    if (!convert::IsBlank(component.liabilityDebit)) build(entry.liabilityDebit, prefix, component.liabilityDebit);
    if (!convert::IsBlank(component.liabilityCredit)) build(entry.liabilityCredit, prefix, component.liabilityCredit);
    dist.taxes.push_back(std::move(entry));
}

void ComputeTaxes(uint16_t txm, modlibs::DistImage& dist, const AccountBuilder& build) {
    modules::AP_FREE_TAXES(&dist.taxes, nullptr);
    TaxGroupRecord group;
    ReadTaxGroup(txm, dist.taxGroup, group);
    for (int k = 1; k <= static_cast<int>(group.components.size()); ++k) ComputeTaxComponent(build, dist, group, k);
    if (dist.taxes.empty()) return;

    const double ratio64 = Ratio(dist.amt64, dist.amount);
    double taxSum = 0, liabilitySum = 0;
    for (auto& entry : dist.taxes) {
        entry.amount64 = suite::zc_round(entry.amount * ratio64);
        entry.liability64 = suite::zc_round(entry.liability * ratio64);
        if (entry.amount64 == 0 && entry.liability64 == 0) entry.liabilityDebit.clear();
        if (entry.liability64 == 0) entry.liabilityCredit.clear();
        taxSum += entry.amount;
        liabilitySum += entry.liability;
    }
    modlibs::TaxEntry& last = dist.taxes.back();
    last.amount += dist.tax - taxSum;
    last.liability += dist.taxLiability - liabilitySum;
}

void SumTaxList(modlibs::PaidDistImage& paid, modlibs::DistImage& dist, bool last) {
    modules::AP_FREE_TAXES(nullptr, &paid.paidTaxes);
    const double taxShare = Ratio(paid.taxPaid, dist.tax);
    const double liabilityShare = Ratio(paid.taxLiabilityApplied, dist.taxLiability);
    const double share64 = Ratio(paid.amt64Paid, paid.grossPayment);
    for (auto& entry : dist.taxes) {
        modlibs::PaidTaxEntry t;
        t.vendor = entry.vendor;
        t.invoice = entry.invoice;
        t.bank = paid.bank;
        t.check = paid.check;
        t.distSequence = entry.distSequence;
        t.component = entry.component;
        t.tax = entry.tax;
        t.rate = entry.rate;
        t.paid = suite::zc_round(entry.amount * taxShare);
        t.liabilityApplied = suite::zc_round(entry.liability * liabilityShare);
        if (share64 != 0) {
            t.paid64 = last ? entry.amount64 - entry.paid64 : suite::zc_round(t.paid * share64);
            t.liabilityApplied64 =
                last ? entry.liability64 - entry.liabilityPaid64 : suite::zc_round(t.liabilityApplied * share64);
        }
        entry.paid64 += t.paid64;
        entry.liabilityPaid64 += t.liabilityApplied64;
        paid.paidTaxes.push_back(std::move(t));
    }
    if (paid.paidTaxes.empty()) return;
    double paidSum = 0, liabilitySum = 0;
    for (const auto& t : paid.paidTaxes) paidSum += t.paid, liabilitySum += t.liabilityApplied;
    modlibs::PaidTaxEntry& lastEntry = paid.paidTaxes.back();
    lastEntry.paid += paid.taxPaid - paidSum;
    lastEntry.liabilityApplied += paid.taxLiabilityApplied - liabilitySum;
}

}  // namespace dz::ap
