// The Distribution record: tied to its invoice and numbered, then the tax, job cost, billing and
// GL interface rules of the AP settings, the default tax group and payable accounts, what cannot
// be converted, and one sign for all its amounts.
#include "converters/ap/xvapi.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapi_accounts.h"
#include "converters/ap/xvapi_amounts.h"
#include "modules/entries.h"
#include "platform/import/xvl_case.h"
#include "platform/import/xvl_import.h"
#include "platform/suite/xk.h"

#include <cmath>
#include <span>

namespace dz::ap {

using namespace convert;

namespace {

constexpr uint16_t kCashMethod = 2;
constexpr uint16_t kDeductionsNotUsed = 1;
constexpr uint16_t kTaxesNotUsed = 1, kTaxesWithoutLiability = 2;
constexpr const char* kLastResortTaxGroup = "XV Tax";

std::string Pair(const std::string& a, const std::string& b) { return a + ", " + b; }
std::string Job(std::string job) {
    suite::xk_format_field(suite::kJobFormat, 0, job);
    return job;
}
std::string CostCode(std::string code) {
    suite::xk_format_field(suite::kPhaseFormat, 0, code);
    return code;
}
std::string Account(const std::string& account) { return FormatAccount(account, suite::kGlWhole); }

// A field's name in messages: a fixed text around a custom description, put together only when a
// message names the field.
struct Label {
    const char* before = "";
    int term = 0;  // 0: none
    const char* after = "";
    bool capital = true;
    std::string Text() const {
        return before + (term == 0 ? std::string() : capital ? TermCap(term) : Term(term)) + after;
    }
};
// A labelled value; an empty value is not set.
struct Labelled {
    Label label;
    std::string value;
};

}  // namespace

bool xvAPI::ConvertDistribution(xvl::xvlImpInfo& info, std::string& reason, GroupCallbackContext& group) {
    const uint16_t apm = group.apm;
    const bool converting = group.converting;
    const RecordWording w{reason, converting};
    auto note = [&](std::string text) { Note(group, info, std::move(text)); };

    // 1, 2. The distribution and its invoice.
    // Read straight into a map node of its own, which joins the group's distributions at the end.
    DistNode node = TakeDistNode(apm);
    modlibs::DistImage& d = node.mapped();
    if (IsBlank(d.vendor)) return w.Reject(Msg(12688));
    if (IsBlank(d.invoice)) return w.Reject(Msg(12689, d.vendor));
    if (!xvl::equalNoCase(d.vendor, invoiceImage.vendor) || !xvl::equalNoCase(d.invoice, groupInvoiceId))
        return w.Reject(Msg(12692, Pair(d.vendor, d.invoice), Pair(invoiceImage.vendor, groupInvoiceId)));
    if (renamed) d.invoice = invoiceImage.invoice;

    // 3. The sequence: given, or the next free one after those of the group so far.
    if (d.distSequence == 0) {
        if (shape.oneDistributionKind) return w.Reject(Msg(12700, Pair(d.vendor, groupInvoiceId)));
        auto next = static_cast<uint16_t>(DistributionMap.empty() ? 1 : DistributionMap.size() + 1);
        while (DistributionMap.contains(next)) ++next;
        d.distSequence = next;
    }
    defaultDistSequence = d.distSequence;
    // A sequence met before in the group would replace, or be lost beside, the first: refuse it.
    if (DistributionMap.contains(d.distSequence))
        return w.Reject(Msg(12796, Pair(d.vendor, groupInvoiceId) + FormatInt(", %d", d.distSequence)));

    // 4. The description.
    if (!group.import->xvlImpWasItImported(info.FormatID(), "ODDESC")) d.description = invoiceImage.description;

    // 5. Taxes the settings do not use.
    if (!IsBlank(d.taxGroup) || d.tax != 0 || d.taxLiability != 0) {
        if (TAXUSE == kTaxesNotUsed) {
            if (d.tax != 0) return w.Reject(Msg(12713, Amount(d.tax)));
            if (d.taxLiability != 0) return w.Reject(Msg(12714, Amount(d.taxLiability)));
            note(Msg(12715, d.taxGroup, w.Was(), w.Number("1641/1642")));
            d.taxGroup.clear();
        } else if (TAXUSE == kTaxesWithoutLiability && d.taxLiability != 0) {
            return w.Reject(Msg(12714, Amount(d.taxLiability)));
        }
    }

    // 6, 7. Job cost fields. A distribution without any (most of them) makes no labelled values.
    const bool jcGiven = !IsBlank(d.job) || !IsBlank(d.costCode) || !IsBlank(d.category) || !IsBlank(d.extra) ||
                         !IsBlank(d.commitment) || d.commitmentItem != 0 || !IsBlank(d.jcReference);
    if (jcGiven) {
        const Labelled jcFields[] = {
            {{"", 16}, IsBlank(d.job) ? std::string() : Job(d.job)},
            {{"", 18}, IsBlank(d.costCode) ? std::string() : CostCode(d.costCode)},
            {{"", 12}, d.category},
            {{"", 15}, d.extra},
            {{"", 20}, d.commitment},
            {{"", 20, " line item"}, d.commitmentItem != 0 ? FormatNumber("%.0f", d.commitmentItem) : std::string()},
            {{"", 19}, d.jcReference}};
        if (jcInterface) {
            if (!IsBlank(d.job)) {
                if (IsBlank(d.costCode)) return w.Reject(Msg(12718, TermCap(18), Job(d.job)));
                if (categoriesUsed && IsBlank(d.category)) return w.Reject(Msg(12718, TermCap(12), Job(d.job)));
                if (!extrasTracked && !IsBlank(d.extra)) {
                    note(Msg(12719, TermCap(15), d.extra, w.Was(), TermPlural(15), w.Number("1647/1648")));
                    d.extra.clear();
                }
                if (!categoriesUsed && !IsBlank(d.category)) {
                    note(Msg(12719, TermCap(12), d.category, w.Was(), TermPlural(12), w.Number("1647/1648")));
                    d.category.clear();
                }
            } else {
                // Without a job, none of the others.
                for (const auto& [field, value] : std::span(jcFields).subspan(1))
                    if (!IsBlank(value)) return w.Reject(Msg(12717, field.Text(), value));
            }
        } else {
            for (const auto& [field, value] : jcFields) {
                if (IsBlank(value)) continue;
                note(Msg(12716, field.Text(), value, w.Were(), w.Number("1643/1644")));
                d.job.clear(), d.costCode.clear(), d.category.clear(), d.extra.clear(), d.commitment.clear();
                d.commitmentItem = 0;
                d.jcReference.clear();
                break;
            }
        }
    }

    // 8. A commitment goes with its line item.
    if (IsBlank(d.commitment) != (d.commitmentItem == 0)) {
        if (!IsBlank(d.commitment)) return w.Reject(Msg(12742, TermCap(20), d.commitment, Term(20) + " line item"));
        return w.Reject(Msg(12742, TermCap(20) + " line item", FormatNumber("%.0f", d.commitmentItem), Term(20)));
    }

    // 9. The unit cost: hundredths per unit, times 1,000,000 (units are held in ten-thousandths).
    if (d.units != 0 && d.unitCost == 0 && IsBlank(d.commitment))
        d.unitCost = std::floor(d.amount / (d.units / 10000.0) * 1000000.0 + 0.5);

    // 10. The billing field.
    if (!IsBlank(d.billingField)) {
        if (!billingInterface) {
            note(Msg(12798, TermCap(328), d.billingField, w.Was(), w.Number("1733/1734")));
            d.billingField.clear();
        } else if (IsBlank(d.costCode)) {
            note(Msg(12799, TermCap(328), d.billingField, w.Was(), Term(18), w.Number("1735/1736")));
            d.billingField.clear();
        }
    }

    // 11. The tax group of a taxed distribution: job cost's, the vendor's, the settings', ours.
    if (IsBlank(d.taxGroup) && (d.tax != 0 || d.taxLiability != 0)) {
        if (!IsBlank(d.job))
            modules::JC_GET_COST_TAX_GROUP(group.jcm, d.commitment, static_cast<uint16_t>(d.commitmentItem), d.job,
                                           d.extra, d.costCode, d.category, d.taxGroup);
        if (IsBlank(d.taxGroup) && !IsBlank(vendorImage.vendor)) d.taxGroup = vendorImage.taxGroup;
        if (IsBlank(d.taxGroup)) d.taxGroup = DFLTTAX;
        if (IsBlank(d.taxGroup)) d.taxGroup = kLastResortTaxGroup;
    }

    // 12.
    if (d.completed != 0) {
        note(Msg(12707, "Completed invoice", "Yes", w.Was(), w.Number("1628/1629")));
        d.completed = 0;
    }

    // 13, 14. General ledger.
    if (!glInterface) {
        const std::pair<Label, const std::string*> accounts[] = {
            {{"Expense acct"}, &d.expenseAccount},
            {{"Payable acct"}, &d.payableAccount},
            {{"", 64, " payable acct", false}, &d.payable64Account},
            {{"", 63, " credit acct", false}, &d.credit63Account}};
        for (const auto& [field, value] : accounts) {
            if (IsBlank(*value)) continue;
            note(Msg(12732, field.Text(), Account(*value), w.Were(), w.Number("1662/1663")));
            break;
        }
        d.expenseAccount.clear(), d.payableAccount.clear(), d.payable64Account.clear(), d.credit63Account.clear();
        d.icPayableAccount.clear(), d.icReceivableAccount.clear(), d.cashAccount.clear();
    } else {
        const bool cash = controlValue == kCashMethod;
        // A vendor's default counts only as a whole account: a base account has no prefix here.
        if (IsBlank(d.expenseAccount) && !IsBlank(vendorImage.vendor) &&
            ValidAccount(vendorImage.debitAccount, suite::kGlWhole))
            d.expenseAccount = vendorImage.debitAccount;
        if (IsBlank(d.expenseAccount)) return w.Reject(Msg(12733));
        if (d.amt64 == 0) d.payable64Account.clear();
        if (d.amt63 == 0) d.credit63Account.clear();
        if (cash && (!IsBlank(d.payableAccount) || !IsBlank(d.payable64Account))) {
            const std::string& shown = !IsBlank(d.payableAccount) ? d.payableAccount : d.payable64Account;
            note(Msg(12748, Account(shown), w.Was(), w.Number("1682/1683")));
            d.payableAccount.clear();
            d.payable64Account.clear();
        }
        const std::string prefix = GlPrefix(d.expenseAccount, true);
        if (IsBlank(d.payableAccount) && !cash) {
            if (!IsBlank(d.commitment)) BuildAccount(group.glm, d.payableAccount, prefix, GLSBPBL);
            if (IsBlank(d.payableAccount)) BuildAccount(group.glm, d.payableAccount, prefix, GLAPPBL);
            if (IsBlank(d.payableAccount)) return w.Reject(Msg(12735, "an Accts payable acct"));
        }
        if (IsBlank(d.payable64Account) && d.amt64 != 0 && !cash) {
            BuildAccount(group.glm, d.payable64Account, prefix, GLRTPBL);
            if (IsBlank(d.payable64Account)) return w.Reject(Msg(12735, "a " + Term(64) + " payable acct"));
        }
        if (IsBlank(d.credit63Account) && d.amt63 != 0) {
            BuildAccount(group.glm, d.credit63Account, prefix, GLMDED);
            if (IsBlank(d.credit63Account) && MDLVL != kDeductionsNotUsed)
                return w.Reject(Msg(12735, "a " + Term(63) + " credit acct"));
        }
    }

    // 15. Equipment and its cost item go together; their details need them.
    const bool noEquipment = IsBlank(d.equipment), noCostItem = IsBlank(d.costItem);
    if (noEquipment != noCostItem) {
        if (noEquipment) return w.Reject(Msg(12740, TermCap(69), Term(187), d.costItem));
        return w.Reject(Msg(12740, TermCap(187), Term(69), d.equipment));
    }
    const bool detailsGiven = d.memo != 0 || !IsBlank(d.equipmentField1) || d.equipmentUnits1 != 0 ||
                              !IsBlank(d.equipmentField2) || d.equipmentUnits2 != 0 || d.meter != 0;
    if (noEquipment && detailsGiven) {
        // Units are held in ten-thousandths and the meter in hundredths: shown in their units.
        const Labelled details[] = {
            {{"Memo ", 187, "", false}, d.memo != 0 ? FormatInt("%d", d.memo) : std::string()},
            {{"", 189, " #1"}, d.equipmentField1},
            {{"", 189, " units #1"}, d.equipmentUnits1 != 0 ? FormatNumber("%.4f", d.equipmentUnits1 / 10000.0) : ""},
            {{"", 189, " #2"}, d.equipmentField2},
            {{"", 189, " units #2"}, d.equipmentUnits2 != 0 ? FormatNumber("%.4f", d.equipmentUnits2 / 10000.0) : ""},
            {{"Meter/Odometer"}, d.meter != 0 ? FormatNumber("%.2f", d.meter / 100.0) : std::string()}};
        for (const auto& [field, value] : details)
            if (!IsBlank(value)) return w.Reject(Msg(12741, field.Text(), value, Term(69)));
    } else if (!noEquipment && d.memo != 0) {
        d.memo = 1;
    }

    // 16.
    if (!IsBlank(d.allocationName)) {
        note(Msg(12737, d.allocationName, w.Was(), w.Number("1669/1670")));
        d.allocationName.clear();
    }
    if (d.finalLienWaiver != 0) {
        note(Msg(12736, w.Was(), w.Number("1667/1668")));
        d.finalLienWaiver = 0;
    }

    // 17. Payment fields (labelled only when one is given).
    const bool paymentGiven = d.included != 0 || d.paymentAmount != 0 || d.paymentToPay != 0 ||
                              d.paymentDiscount != 0 || d.paymentToHold != 0 || d.paymentToDeduct != 0 ||
                              d.orIncluded != 0 || d.orPaymentAmount != 0 || d.orPaymentToPay != 0 ||
                              d.orPaymentDiscount != 0 || d.orPaymentToHold != 0 || d.orPaymentToDeduct != 0;
    if (paymentGiven) {
        const Labelled payments[] = {
            {{"Included for pmt"}, d.included != 0 ? "TRUE" : ""},
            {{"Payment amount"}, d.paymentAmount != 0 ? Amount(d.paymentAmount) : ""},
            {{"Pmt ", 64, " to pay", false}, d.paymentToPay != 0 ? Amount(d.paymentToPay) : ""},
            {{"Pmt disc to apply"}, d.paymentDiscount != 0 ? Amount(d.paymentDiscount) : ""},
            {{"Pmt ", 64, " to hold", false}, d.paymentToHold != 0 ? Amount(d.paymentToHold) : ""},
            {{"Pmt ", 63, " to deduct", false}, d.paymentToDeduct != 0 ? Amount(d.paymentToDeduct) : ""},
            {{"OR Included for pmt"}, d.orIncluded != 0 ? "TRUE" : ""},
            {{"OR Payment amount"}, d.orPaymentAmount != 0 ? Amount(d.orPaymentAmount) : ""},
            {{"OR Pmt ", 64, " to pay", false}, d.orPaymentToPay != 0 ? Amount(d.orPaymentToPay) : ""},
            {{"OR Pmt disc to apply"}, d.orPaymentDiscount != 0 ? Amount(d.orPaymentDiscount) : ""},
            {{"OR Pmt ", 64, " to hold", false}, d.orPaymentToHold != 0 ? Amount(d.orPaymentToHold) : ""},
            {{"OR Pmt ", 63, " to deduct", false}, d.orPaymentToDeduct != 0 ? Amount(d.orPaymentToDeduct) : ""}};
        for (const auto& [field, value] : payments) {
            if (value.empty()) continue;
            note(Msg(12711, field.Text(), value, w.Were(), w.Number("1635/1636")));
            d.included = d.orIncluded = 0;
            d.paymentAmount = d.paymentToPay = d.paymentDiscount = d.paymentToHold = d.paymentToDeduct = 0;
            d.orPaymentAmount = d.orPaymentToPay = d.orPaymentDiscount = d.orPaymentToHold = d.orPaymentToDeduct = 0;
            break;
        }
    }

    // 18. One sign for all amounts.
    AmountSet amounts;
    if (!CheckAmountSigns(LoadAmountSet(amounts, d)))
        return w.Reject(Msg(12800, "Distribution " + std::to_string(d.distSequence), SignExample(amounts)));
    d.newDistribution = 1;
    node.key() = d.distSequence;
    DistributionMap.insert(std::move(node));
    return true;
}

}  // namespace dz::ap
