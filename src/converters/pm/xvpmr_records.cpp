// The record handlers of the PM retail converter: percent rent controls, sales categories and
// breakpoints. Each checks the record staged in the retail file's buffer, corrects it there and
// returns false with the first fault's text as the reason.
#include "converters/pm/xvpmr.h"

#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"

#include <algorithm>
#include <cctype>

namespace dz::pm {

using namespace convert;

namespace {


bool Later(const x_date_type& a, const x_date_type& b) { return suite::xd_compare_dates(a, b) > 0; }

using Field = StagedField;

}  // namespace

bool IsTotalCategory(const std::string& category) {
    return category.size() == 5 && std::equal(category.begin(), category.end(), kTotalCategory, [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
           });
}

// ---- The date cycle of the billing and recalculation dates -----------------------------------------

bool DatesInStep(const x_date_type& nextBill, const x_date_type& nextRecalc, int billMonths, int recalcMonths) {
    if (billMonths < 1 || recalcMonths < 1) return false;
    // Bounded: both frequencies are at least a month, so each step moves a date forward; ten
    // thousand years of steps end any pair of dates a record can hold.
    constexpr int kMaxSteps = 120000;
    x_date_type recalc = nextRecalc;
    for (int k = 1; k <= kMaxSteps && suite::xd_compare_dates(recalc, nextBill) < 0; ++k) {
        recalc = nextRecalc;
        suite::xd_offset_date(recalc, k * recalcMonths, 0);
    }
    x_date_type bill = nextBill;
    for (int k = 1; k <= kMaxSteps && suite::xd_compare_dates(bill, recalc) < 0; ++k) {
        bill = nextBill;
        suite::xd_offset_date(bill, k * billMonths, 0);
    }
    return suite::xd_compare_dates(bill, recalc) == 0;
}

// ---- Percent rent control ------------------------------------------------------------------------------

bool xvPMR::ConvertPercentRentControl(uint16_t pmr, uint16_t pml, uint16_t pms, std::string& reason,
                                      convert::MessageList& messages, bool converting) {
    constexpr uint16_t R = kRecPercentRent;
    const Field lease(pmr, R, "PRLEASE"), revision(pmr, R, "PRREV");
    const LookupScope scope{&RecordIds(), true};  // leases and charge types are never in this file

    // 1, 2. The lease is required; a blank fiscal year end is December 31.
    if (lease.Text().empty()) {
        reason = Msg(12583, lease.Label());
        return false;
    }
    const Field fiscalEnd(pmr, R, "PRFCYE");
    if (IsUnsetDate(fiscalEnd.Date())) {
        x_date_type end = fiscalEnd.Date();
        end.month = 12;
        end.day = 31;
        PutDate(pmr, fiscalEnd.no, end);
    }

    // 3. The lease and revision on file, in their stored spelling.
    if (!FindLease(pml, lease.Text(), revision.Number(), scope)) {
        reason = LeaseMissingText(12859, lease.Text(), revision.Number());
        return false;
    }
    PutText(pmr, lease.no, GetText(pml, 1, "LEASE"));
    PutNumber(pmr, revision.no, GetNumber(pml, 1, "LREV"));
    // The lease's label and key, for the messages that name it only.
    auto keyLabel = [] { return LeaseKeyLabel(); };
    auto keyText = [&] { return LeaseKeyText(lease.Text(), revision.Number()); };

    // 4. The overage period.
    const Field overStart(pmr, R, "PROVSD"), overEnd(pmr, R, "PROVTD");
    if (!IsUnsetDate(overStart.Date())) {
        if (!IsUnsetDate(overEnd.Date()) && Later(overStart.Date(), overEnd.Date())) {
            reason = Msg(12590, DateText(overEnd.Date()), DateText(overStart.Date()));
            return false;
        }
    } else if (!IsUnsetDate(overEnd.Date())) {
        reason = Msg(12589, DateText(overEnd.Date()));
        return false;
    } else {
        messages.push_back(Msg(12588));
    }

    // 5. Months of sales to retain: 0 or at least 12 (a negative count is no count at all).
    const double retain = Field(pmr, R, "PRRETM").Number();
    if (retain < 0 || (retain > 0 && retain < 12)) {
        reason = Msg(12591, WholeText(retain));
        return false;
    }

    // 6. The store in the list's spelling.
    const Field store(pmr, R, "PRSTORE");
    if (std::string s = store.Text(); !s.empty() && stores_.Spelling(s)) PutText(pmr, store.no, s);

    // 7, 8. Both frequencies: a stored value that gives no whole month is as good as none, and
    // would divide by zero below.
    const Field billFreq(pmr, R, "PRBFREQ"), recalcFreq(pmr, R, "PRRECFQ");
    for (const Field* f : {&billFreq, &recalcFreq}) {
        if (IsZero(f->Number()) || f->Result() < 1) {
            reason = Msg(12526, f->Label(), keyLabel(), keyText());
            return false;
        }
    }
    // 9. The billing frequency divides the recalculation frequency.
    const int b = billFreq.Result(), r = recalcFreq.Result();
    if (b > r) {
        reason = Msg(12597, std::to_string(b), std::to_string(r));
        return false;
    }
    if (r % b != 0) {
        reason = Msg(12598, std::to_string(r), std::to_string(b));
        return false;
    }

    // 10, 11. The next billing date, in step with the next recalculation date.
    const Field nextBill(pmr, R, "PRNBD"), nextRecalc(pmr, R, "PRNRD");
    if (IsUnsetDate(nextBill.Date())) messages.push_back(Msg(12599, lease.Text()));
    if (b > 1 && !IsUnsetDate(nextBill.Date()) && !IsUnsetDate(nextRecalc.Date()) &&
        !DatesInStep(nextBill.Date(), nextRecalc.Date(), b, r)) {
        reason = Msg(12600, DateText(nextBill.Date()), DateText(nextRecalc.Date()));
        return false;
    }

    // 12 to 15. The charge types each date needs, on file in their stored spelling.
    const Field billCt(pmr, R, "PRBCT"), recalcCt(pmr, R, "PRRCT");
    if (!IsUnsetDate(nextBill.Date()) && billCt.Text().empty()) {
        reason = Msg(12526, billCt.Label(), keyLabel(), keyText());
        return false;
    }
    if (!IsUnsetDate(nextRecalc.Date()) && recalcCt.Text().empty()) {
        reason = Msg(12526, recalcCt.Label(), keyLabel(), keyText());
        return false;
    }
    const std::pair<const Field*, const char*> chargeTypes[] = {{&billCt, "Billing charge type"},
                                                                {&recalcCt, "Recalc charge type"}};
    for (const auto& [f, name] : chargeTypes) {
        const std::string ct = f->Text();
        if (ct.empty()) continue;
        std::string stored = ct;
        if (!StoredChargeType(pms, stored)) {
            reason = Msg(12601, name, ct, TermLabel(kChargeTypeTerm));
            return false;
        }
        PutText(pmr, f->no, stored);
    }

    // 16 to 18. Sales types from list 434, in its spelling.
    const std::pair<const char*, const char*> salesTypes[] = {
        {"PRBSTP1", "Billing sales type 1"}, {"PRBSTP2", "Billing sales type 2"}, {"PRRST", "Recalc sales type"}};
    for (const auto& [fieldName, name] : salesTypes) {
        const Field f(pmr, R, fieldName);
        std::string value = f.Text();
        if (value.empty()) continue;
        if (!salesTypes_.Spelling(value)) {
            reason = Msg(12602, name, value, TermLabel(kSalesTypeList));
            return false;
        }
        PutText(pmr, f.no, value);
    }

    // 19, 20. The last billing and recalculation dates are the billing task's own.
    const std::string wasCleared = ModeWord("was/will be", converting);
    const std::string clearedNo = converting ? "1322" : "1323";
    const std::pair<const char*, const char*> lastDates[] = {{"PRLBD", "Last billing date"},
                                                             {"PRLRD", "Last recalc date"}};
    for (const auto& [fieldName, name] : lastDates) {
        const Field f(pmr, R, fieldName);
        if (IsUnsetDate(f.Date())) continue;
        messages.push_back(Msg(12603, name, DateText(f.Date()), wasCleared, clearedNo));
        f.Clear();
    }

    // 21. The overage starts no later than the next billing.
    if (!IsUnsetDate(nextBill.Date()) && !IsUnsetDate(overStart.Date()) && Later(overStart.Date(), nextBill.Date())) {
        reason = Msg(12604, DateText(overStart.Date()), DateText(nextBill.Date()));
        return false;
    }

    // 22, 23. Sales bases are sales alone: the recurring-charge lines go, each kind noted once.
    const Field baseType(pmr, R, "PRSBTYP");
    if (baseType.Number() != 1) {
        messages.push_back(Msg(12603, "Sales base type", ChoiceValueText(pmr, baseType.no, baseType.Number()),
                               wasCleared, clearedNo));
        PutNumber(pmr, baseType.no, 1);
    }
    const std::pair<const char*, const char*> baseLines[] = {{"PRSBRC1", "Sales base recur chg XX"},
                                                             {"PRSBU1", "Sales base recur unit XX"}};
    for (const auto& [firstName, name] : baseLines) {
        const uint16_t first = FieldNo(pmr, R, firstName);
        bool noted = false;
        for (uint16_t i = 0; i < 10; ++i) {
            const uint16_t no = static_cast<uint16_t>(first + 2 * i);
            const std::string value = GetText(pmr, no);
            if (value.empty()) continue;
            if (!noted) messages.push_back(Msg(12603, name, value + " (etc.)", wasCleared, clearedNo));
            noted = true;
            PutText(pmr, no, "");
        }
    }

    // 24, 25. Formulas: required and looked up when the method is a formula, dropped otherwise.
    const std::string notConverted = ModeWord("was not/will not be", converting);
    const std::string notConvertedNo = converting ? "1325" : "1326";
    const std::string convertsWord = ModeWord("converted/will convert", converting);
    const std::string convertsNo = converting ? "1327" : "1328";
    auto formulaRule = [&](const char* methodName, const char* formulaName, const char* missingLabel,
                           const char* methodLabel) {
        const Field method(pmr, R, methodName), formula(pmr, R, formulaName);
        if (method.Result() == 2) {
            if (formula.Text().empty()) {
                reason = Msg(12607, missingLabel, methodLabel, "Formula (2)");
                return false;
            }
            if (!FormulaExists(formula.Text())) messages.push_back(Msg(12606, formula.Text(), convertsWord, convertsNo));
        }
        return true;
    };
    auto dropFormula = [&](const char* methodName, const char* formulaName, const char* methodLabel) {
        const Field method(pmr, R, methodName), formula(pmr, R, formulaName);
        if (method.Result() == 2 || formula.Text().empty()) return;
        messages.push_back(Msg(12605, methodLabel, formula.Text(), notConverted, notConvertedNo));
        formula.Clear();
    };
    if (!formulaRule("PROVMT", "PROVFM", "Overage fromula", "Overage method")) return false;
    dropFormula("PROVMT", "PROVFM", "Overage method");
    if (!formulaRule("PRCPTYP", "PRCPFM", "Cap fromula", "Cap type")) return false;
    const Field capType(pmr, R, "PRCPTYP"), capAmount(pmr, R, "PRCPAMT");
    if (capType.Result() == 2 && !IsZero(capAmount.Number())) {
        messages.push_back(Msg(12608, Amount(capAmount.Number()), notConverted, converting ? "1330" : "1331"));
        PutNumber(pmr, capAmount.no, 0);
    }
    dropFormula("PRCPTYP", "PRCPFM", "Cap type");

    // 26. Non-cumulative breakpoints cannot cap the overage amount.
    if (Field(pmr, R, "PRCMPCP").Result() == 1 && Field(pmr, R, "PROVMT").Result() == 1 &&
        Field(pmr, R, "PRBPMT").Result() == 2) {
        reason = Msg(12609);
        return false;
    }
    return true;
}

bool xvPMR::StoredChargeType(uint16_t pms, std::string& chargeType) {
    auto it = chargeTypes_.find(chargeType);
    if (it == chargeTypes_.end()) {
        const bool found = static_cast<bool>(FindChargeType(pms, chargeType, LookupScope{&RecordIds(), true}));
        it = chargeTypes_.emplace(chargeType, found ? GetText(pms, 1, "CT") : std::string()).first;
    }
    if (it->second.empty()) return false;
    chargeType = it->second;
    return true;
}

// ---- Sales categories and breakpoints ---------------------------------------------------------------------

bool xvPMR::FindControl(uint16_t pmr, std::string& lease, double& revision, bool converting) {
    const Found found =
        FindRecord(pmr, kRecPercentRent, {{"PRLEASE", lease}, {"PRREV", revision}}, LookupScope{&RecordIds(), converting});
    if (found.where == Found::OnFile) {
        lease = GetText(pmr, kRecPercentRent, "PRLEASE");
        revision = GetNumber(pmr, kRecPercentRent, "PRREV");
    }
    return static_cast<bool>(found);
}

void xvPMR::NormaliseCategory(std::string& category) const {
    if (IsTotalCategory(category))
        category = kTotalCategory;
    else
        salesCategories_.Spelling(category);
}

bool xvPMR::ConvertSalesCategory(uint16_t pmr, std::string& reason, convert::MessageList&, bool converting) {
    constexpr uint16_t R = kRecSalesCategory;
    const Field leaseField(pmr, R, "SCLEASE"), revisionField(pmr, R, "SCREV"), categoryField(pmr, R, "SCSLCAT");
    std::string lease = leaseField.Text();
    double revision = revisionField.Number();
    if (lease.empty()) {
        reason = Msg(12583, leaseField.Label());
        return false;
    }
    std::string category = categoryField.Text();
    if (category.empty()) {
        reason = Msg(12584, categoryField.Label(), LeaseKeyLabel(), LeaseKeyText(lease, revision));
        return false;
    }
    if (!FindControl(pmr, lease, revision, converting)) {
        reason = Msg(12610, lease);
        return false;
    }
    PutText(pmr, leaseField.no, lease);
    PutNumber(pmr, revisionField.no, revision);
    NormaliseCategory(category);
    PutText(pmr, categoryField.no, category);

    const Field sfType(pmr, R, "SCSFT"), sfArea(pmr, R, "SCSFTG");
    if (std::string s = sfType.Text(); !s.empty() && sfTypes_.Spelling(s)) PutText(pmr, sfType.no, s);

    const Field start(pmr, R, "SCSSD"), end(pmr, R, "SCSED"), stop(pmr, R, "SCTSD"), restart(pmr, R, "SCTRD");
    if (!IsUnsetDate(start.Date()) && !IsUnsetDate(end.Date()) && Later(start.Date(), end.Date())) {
        reason = Msg(12611, DateText(end.Date()), DateText(start.Date()));
        return false;
    }
    if (!IsUnsetDate(stop.Date()) && !IsUnsetDate(restart.Date()) && Later(stop.Date(), restart.Date())) {
        reason = Msg(12612, DateText(restart.Date()), DateText(stop.Date()));
        return false;
    }
    if (!sfType.Text().empty() && !IsZero(sfArea.Number())) {
        reason = Msg(12613, TermLabel(kSfTypeTerm), sfType.Text(), TermLabel(kOtherTerm), Amount(sfArea.Number()));
        return false;
    }
    return true;
}

bool xvPMR::ConvertBreakpoint(uint16_t pmr, std::string& reason, convert::MessageList& messages, bool converting) {
    constexpr uint16_t R = kRecBreakpoint;
    const Field leaseField(pmr, R, "BTLEASE"), revisionField(pmr, R, "BTREV"), categoryField(pmr, R, "BTSCAT");
    std::string lease = leaseField.Text();
    double revision = revisionField.Number();
    if (lease.empty()) {
        reason = Msg(12583, leaseField.Label());
        return false;
    }
    std::string category = categoryField.Text();
    if (category.empty()) category = salesCategoryDefault_;
    if (category.empty()) {
        reason = Msg(12584, categoryField.Label(), LeaseKeyLabel(), LeaseKeyText(lease, revision));
        return false;
    }
    if (!FindControl(pmr, lease, revision, converting)) {
        reason = Msg(12610, lease);
        return false;
    }
    PutText(pmr, leaseField.no, lease);
    PutNumber(pmr, revisionField.no, revision);
    NormaliseCategory(category);
    PutText(pmr, categoryField.no, category);

    // Every breakpoint table is stored as amounts; what the other types use goes, noted once each.
    const std::string notConverted = ModeWord("was not/will not be", converting);
    const std::string notConvertedNo = converting ? "1337" : "1338";
    const Field type(pmr, R, "BTTYPE");
    if (type.Number() != 1) {
        messages.push_back(Msg(12603, "Breakpoint type", ChoiceValueText(pmr, type.no, type.Number()),
                               ModeWord("was/will be", converting), converting ? "1322" : "1323"));
        PutNumber(pmr, type.no, 1);
    }
    const uint16_t firstNumber = FieldNo(pmr, R, "BTNBP1");
    bool noted = false;
    for (uint16_t i = 0; i < 10; ++i) {
        const uint16_t no = static_cast<uint16_t>(firstNumber + i);
        const double value = GetNumber(pmr, no);
        if (IsZero(value)) continue;
        if (!noted) messages.push_back(Msg(12614, FieldLabel(pmr, no), Millionths(value), notConverted, notConvertedNo));
        noted = true;
        PutNumber(pmr, no, 0);
    }
    const uint16_t firstFormula = FieldNo(pmr, R, "BTF1");
    noted = false;
    for (uint16_t i = 0; i < 5; ++i) {
        const uint16_t no = static_cast<uint16_t>(firstFormula + i);
        const std::string value = GetText(pmr, no);
        if (value.empty()) continue;
        if (!noted) messages.push_back(Msg(12614, FieldLabel(pmr, no), value, notConverted, notConvertedNo));
        noted = true;
        PutText(pmr, no, "");
    }

    // The amounts rise from breakpoint to breakpoint, without gaps; a percent needs its amount.
    const uint16_t firstAmount = FieldNo(pmr, R, "BTA1"), firstPercent = FieldNo(pmr, R, "BTOP1");
    double amount[11] = {}, percent[11] = {};
    for (uint16_t i = 1; i <= 10; ++i) {
        amount[i] = GetNumber(pmr, static_cast<uint16_t>(firstAmount + i - 1));
        percent[i] = GetNumber(pmr, static_cast<uint16_t>(firstPercent + i - 1));
    }
    for (int i = 2; i <= 10; ++i) {
        const std::string n = std::to_string(i), previous = std::to_string(i - 1);
        if (IsZero(amount[i]) && !IsZero(percent[i])) {
            reason = Msg(12615, n, n, Millionths(percent[i]));
            return false;
        }
        if (IsZero(amount[i])) continue;
        if (i >= 3 && IsZero(amount[i - 1])) {
            reason = Msg(12616, n, Amount(amount[i]), previous);
            return false;
        }
        if (amount[i] <= amount[i - 1]) {
            reason = Msg(12617, n, Amount(amount[i]), previous, Amount(amount[i - 1]));
            return false;
        }
    }
    return true;
}

}  // namespace dz::pm
