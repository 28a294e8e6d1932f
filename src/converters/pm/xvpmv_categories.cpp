#include "converters/pm/xvpmv.h"

#include "platform/datafile/xio.h"
#include "platform/suite/xd.h"

#include <cctype>

namespace dz::pm {

using namespace convert;

namespace {

constexpr uint16_t kPmlLease = 1;

// The recovery control (record 4) by the four key fields of a lease category or concession
// period; its RCFEE result goes to `fee`.
bool FindRecoveryControl(const RecordChecks& r, const char* lease, const char* revision,
                         const char* chargeType, const char* unit, const RecordIdMap& ids, uint16_t& fee) {
    return FindRecoveryRecord(r, kPmvRecoveryControl,
                     {{"RCLEASE", r.Text(lease)},
                      {"RCREV", r.Number(revision)},
                      {"RCCT", r.Text(chargeType)},
                      {"RCUNIT", r.Text(unit)}},
                     {lease, revision, chargeType, unit}, ids, fee);
}

// The key of a lease's recovery control: lease, revision, charge type, unit joined by ", ".
std::string ControlKeyText(const RecordChecks& r, const char* lease, const char* revision,
                           const char* chargeType, const char* unit) {
    return r.Text(lease) + ", " + WholeText(r.Number(revision)) + ", " + r.Text(chargeType) + ", " +
           r.Text(unit);
}

// The lease of a lease category, read into the lease buffer (cleared first).
bool ReadLease(uint16_t pml, const std::string& lease, double revision) {
    return FindRecord(pml, kPmlLease, {{"LEASE", lease}, {"LREV", revision}}, LookupScope{nullptr, true})
               .where == Found::OnFile;
}

}  // namespace

bool FindRecoveryRecord(const RecordChecks& r, uint16_t rec, const std::vector<KeyValue>& keys,
                        std::initializer_list<const char*> into, const RecordIdMap& ids, uint16_t& word) {
    const uint16_t pmv = r.file();
    if (!r.converting()) {
        PutKeys(pmv, rec, keys);
        if (FindInIdMap(pmv, rec, ids, &word)) return true;
    }
    if (!r.LookupCopyBack(pmv, rec, keys, into)) return false;
    word = xvPMV::RecoveryFlags(pmv, rec);
    return true;
}

bool AccountRangeReversed(const std::string& from, const std::string& to) {
    if (from.size() != to.size()) return from.size() > to.size();
    for (std::size_t i = 0; i < from.size(); ++i) {
        const int a = std::tolower(static_cast<unsigned char>(from[i]));
        const int b = std::tolower(static_cast<unsigned char>(to[i]));
        if (a != b) return a > b;
    }
    return false;
}

// ---- Record 2: the expense-category control of a property recovery control ---------------------

bool xvPMV::ConvertPropertyExpenseCategory(uint16_t pmv, uint16_t pmp, std::string& reason,
                                           MessageList& messages, const RecordIdMap& ids,
                                           bool converting) const {
    const RecordChecks r(pmv, kPmvPropertyCategory, reason, messages, converting);
    if (r.Text("PECPROP").empty()) return r.Reject(Msg(12623, r.Label("PECPROP")));
    if (r.Text("PECCT").empty())
        return r.Reject(Msg(12624, r.Label("PECCT"), TermLabel(kPropertyTerm), r.Text("PECPROP")));
    if (r.Text("PECEC").empty())
        return r.Reject(Msg(12624, r.Label("PECEC"), TermLabel(kPropertyTerm) + " recov exp cat control",
                            r.Text("PECPROP") + ", " + r.Text("PECCT")));
    uint16_t flags = 0;
    if (!FindRecoveryRecord(r, kPmvPropertyControl, {{"PRCPROP", r.Text("PECPROP")}, {"PRCCT", r.Text("PECCT")}},
                   {"PECPROP", "PECCT"}, ids, flags))
        return r.Reject(Msg(12629, TermLabel(kPropertyTerm),
                            GetText(pmv, kPmvPropertyControl, "PRCPROP") + ", " +
                                GetText(pmv, kPmvPropertyControl, "PRCCT")));

    // The GL account range: both ends or neither, each on file, in order.
    const std::string from = r.Text("PECFROM"), to = r.Text("PECTO");
    if (from.empty() && !to.empty()) return r.Reject(Msg(12630, "From", "To", GlText(to, 0)));
    if (to.empty() && !from.empty()) return r.Reject(Msg(12630, "To", "From", GlText(from, 0)));
    for (const auto& [name, label] :
         {std::pair{"PECFROM", "From account"}, std::pair{"PECTO", "To account"}}) {
        const std::string account = r.Text(name);
        if (account.empty()) continue;
        const Found found = FindGlAccount(glm_, account, LookupScope{nullptr, true});
        if (!found) return r.Reject(Msg(12631, label, GlText(account, 0)));
        PutText(pmv, r.No(name), found.stored[0]);
    }
    if (!from.empty() && AccountRangeReversed(r.Text("PECFROM"), r.Text("PECTO")))
        return r.Reject(Msg(12632, GlText(r.Text("PECTO"), 0), GlText(r.Text("PECFROM"), 0)));

    // The property's SF types.
    const std::string property = r.Text("PECPROP");
    for (const char* name : {"PECUSF", "PECPSF"})
        if (!r.Text(name).empty() && !CheckSfType(r, pmp, property, name, false)) return false;
    return true;
}

// ---- Record 5: the expense-category control of a lease's recovery control ----------------------

bool xvPMV::ConvertLeaseExpenseCategory(uint16_t pmv, uint16_t pml, uint16_t pmp, std::string& reason,
                                        MessageList& messages, const RecordIdMap& ids,
                                        bool converting) const {
    const RecordChecks r(pmv, kPmvLeaseCategory, reason, messages, converting);
    const auto leaseText = [&r] { return LeaseKeyText(r.Text("ECLEASE"), r.Number("ECREV")); };
    const auto chargeKey = [&r] { return r.Text("ECLEASE") + ", " + r.Text("ECCT"); };
    const auto controlKey = [&r] { return ControlKeyText(r, "ECLEASE", "ECREV", "ECCT", "ECUNIT"); };
    const std::string categoryControl = TermLabel(kLeaseTerm) + " recov exp cat control";

    if (r.Text("ECLEASE").empty()) return r.Reject(Msg(12623, r.Label("ECLEASE")));
    if (r.Text("ECCT").empty()) return r.Reject(Msg(12624, r.Label("ECCT"), LeaseKeyLabel(), leaseText()));
    if (r.Text("ECUNIT").empty())
        return r.Reject(Msg(12624, r.Label("ECUNIT"), categoryControl, chargeKey()));
    if (r.Text("ECEC").empty()) return r.Reject(Msg(12624, r.Label("ECEC"), categoryControl, chargeKey()));
    uint16_t fee = 0;
    if (!FindRecoveryControl(r, "ECLEASE", "ECREV", "ECCT", "ECUNIT", ids, fee))
        return r.Reject(Msg(12659, TermLabel(kLeaseTerm), controlKey()));

    // Subject to the fee only when the control charges one.
    if (r.Result("ECFEE") == 1 && fee == 0) {
        StagedField(pmv, kPmvLeaseCategory, "ECFEE").Clear();
        r.Note(Msg(12660, r.Word("was/will be"), r.Number(1448, 1449)));
    }

    // The unit's and the property's SF types, of the lease's property.
    if (std::string type = r.Text("ECUSF"); !type.empty()) {
        if (!ReadLease(pml, r.Text("ECLEASE"), r.Number("ECREV")))
            return r.Reject(Msg(12661, LeaseKeyLabel(), leaseText(), controlKey()));
        const std::string property = GetText(pml, kPmlLease, "LPROP"), unit = r.Text("ECUNIT");
        if (!FindUnitSfType(pmp, property, unit, type))
            return r.Reject(Msg(12662, TermLabel(kUnitTerm) + ", " + Term(kOtherTerm),
                                property + ", " + unit + ", " + r.Text("ECUSF"),
                                TermLabel(kUnitTerm) + " SF type"));
        PutText(pmv, r.No("ECUSF"), type);
    }
    if (!r.Text("ECPSF").empty()) {
        if (!ReadLease(pml, r.Text("ECLEASE"), r.Number("ECREV")))
            return r.Reject(Msg(12661, LeaseKeyLabel(), leaseText(), controlKey()));
        if (!CheckSfType(r, pmp, GetText(pml, kPmlLease, "LPROP"), "ECPSF", false)) return false;
    }

    // A manual percent gives way to an SF type; one note names the SF type that takes over.
    if (const double percent = r.Number("ECMP"); percent != 0) {
        const char* sfType = !r.Text("ECUSF").empty()   ? "ECUSF"
                             : !r.Text("ECPSF").empty() ? "ECPSF"
                                                        : nullptr;
        if (sfType) {
            PutNumber(pmv, r.No("ECMP"), 0);
            r.Note(Msg(12663, r.Label(sfType), r.Text(sfType), Millionths(percent), r.Word("was/will be"),
                       r.Number(1452, 1453)));
        }
    }

    // The recovery's running figures are the suite's own.
    const uint16_t first = r.No("ECPAE"), last = r.No("ECLFS");
    for (uint16_t field = first; first != 0 && field <= last; ++field)
        if (GetNumber(pmv, field) != 0) {
            r.Note(Msg(12658, FieldLabel(pmv, field), r.ValueText(field), r.Word("was/will be"),
                       r.Number(1445, 1446)));
            PutNumber(pmv, field, 0);
        }
    return true;
}

// ---- Record 6: a concession period of a lease's recovery control ------------------------------

bool xvPMV::ConvertConcessionPeriod(uint16_t pmv, std::string& reason, MessageList& messages,
                                    const RecordIdMap& ids, bool converting) const {
    const RecordChecks r(pmv, kPmvConcession, reason, messages, converting);
    const auto controlKey = [&r] { return ControlKeyText(r, "CPLEASE", "CPREV", "CPCT", "CPUNIT"); };
    if (r.Text("CPLEASE").empty()) return r.Reject(Msg(12623, r.Label("CPLEASE")));
    if (r.Text("CPCT").empty())
        return r.Reject(
            Msg(12624, r.Label("CPCT"), LeaseKeyLabel(), LeaseKeyText(r.Text("CPLEASE"), r.Number("CPREV"))));
    if (r.Text("CPUNIT").empty())
        return r.Reject(Msg(12624, r.Label("CPUNIT"), TermLabel(kLeaseTerm) + " recov conc period",
                            r.Text("CPLEASE") + ", " + r.Text("CPCT")));
    uint16_t fee = 0;
    if (!FindRecoveryControl(r, "CPLEASE", "CPREV", "CPCT", "CPUNIT", ids, fee))
        return r.Reject(Msg(12659, TermLabel(kLeaseTerm), controlKey()));
    const x_date_type from = r.Date("CPFROM"), to = r.Date("CPTO");
    if (IsUnsetDate(from)) return r.Reject(Msg(12664, "From", controlKey()));
    if (IsUnsetDate(to)) return r.Reject(Msg(12664, "To", controlKey()));
    if (suite::xd_compare_dates(from, to) > 0) return r.Reject(Msg(12665, DateText(from), DateText(to)));
    return true;
}

}  // namespace dz::pm
