// The record handlers of the PM lease converter. Each checks the record staged in its file's
// buffer, corrects it there and returns false with the first fault's text as the reason.
#include "converters/pm/xvpml.h"

#include "platform/datafile/stored_number.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_helpers.h"
#include "platform/suite/xd.h"

namespace dz::pm {

using namespace convert;

namespace {

using Field = StagedField;

}  // namespace

// ---- Lease ------------------------------------------------------------------------------------------------

bool xvPML::ConvertLease(uint16_t pml, xvl::xvlImpInfo&, std::string& reason, convert::MessageList& messages,
                         bool converting, uint16_t pmn, uint16_t pmp, uint16_t pms) {
    constexpr uint16_t R = kPmlLease;
    const convert::FieldNumbers<kLeaseFields>& no = LeaseFields(pml);
    auto field = [&](LeaseField f) { return Field(pml, R, no[f]); };
    const Field lease = field(kLfLease), property = field(kLfProperty), unit = field(kLfUnit), tenant = field(kLfTenant);
    const LookupScope scope{&RecordIds(), converting};
    // A key field takes the value's stored spelling; the line mostly gives it so already.
    auto take = [&](const Field& f, const std::string& stored) {
        if (xio_get_text(pml, f.no) != stored) f.Put(stored);
    };
    const std::string leaseText = LeaseKeyText(xio_get_text(pml, lease.no), xio_get_number(pml, no[kLfRevision]));
    // The Convert or Examine Files wording of a note, made only for a note that is issued.
    auto wasNot = [&] { return ModeWord("was not/will not be", converting); };

    // 1, 2. The lease, property, unit and tenant are required.
    if (xio_get_text(pml, lease.no).empty()) {
        reason = Msg(12445, lease.Label());
        return false;
    }
    for (const Field* f : {&property, &unit, &tenant}) {
        if (xio_get_text(pml, f->no).empty()) {
            reason = Msg(12446, f->Label(), LeaseKeyLabel(), leaseText);
            return false;
        }
    }

    // 3, 4. The property and its unit must be on file (this conversion never writes them).
    const PropertyFacts& prop = LeaseProperty(pmp, xio_get_text(pml, property.no));
    if (prop.stored.empty()) {
        reason = PropertyMissingText(12452, property.Text());
        return false;
    }
    take(property, prop.stored);
    const x_date_type periodEnd = prop.periodEnd;
    const std::string storedUnit = StoredUnit(pmp, xio_get_text(pml, property.no), xio_get_text(pml, unit.no));
    if (storedUnit.empty()) {
        reason = UnitMissingText(12453, property.Text(), unit.Text());
        return false;
    }
    take(unit, storedUnit);

    // 5. The tenant: on file, or in Examine Files earlier in the text file.
    m_leaseTenantKnown = false;
    if (const TenantKnown* known = m_tenantsOnFile.find(xio_get_text(pml, tenant.no))) {
        take(tenant, known->stored);
        m_leaseTenantText = known->stored;
        m_leaseTenantFact = known->fact;
        m_leaseTenantKnown = converting;
    } else {
        const Found ten = TenantOnFile(pmn, tenant.Text(), scope);
        if (!ten) {
            reason = TenantMissingText(12449, tenant.Text());
            return false;
        }
        if (ten.where == Found::OnFile) tenant.Put(ten.stored[0]);
    }

    // 6 - 8. Status, being terminated and phase.
    const int st = xio_whole_part(xio_get_number(pml, no[kLfStatus]), 0);
    if (st == 4) {
        reason = Msg(12454, TermLabel(kLeaseTerm, true, true), TermLabel(kLeaseTerm), lease.Text());
        return false;
    }
    bool beingTerminated = GetFlag(pml, no[kLfTerminating]) != 0;
    if ((st == 1 || st == 2) && beingTerminated) {
        reason = Msg(12455, LeaseKeyLabel(), leaseText, st == 1 ? "Future (1)" : "Canceled (2)");
        return false;
    }
    if ((st == 5 || st == 6) && !beingTerminated) {
        PutFlag(pml, no[kLfTerminating], 1);
        beingTerminated = true;
    }
    if (xio_get_number(pml, no[kLfPhase]) != 1) {
        reason = Msg(12456, TermLabel(kLeaseTerm, true, true), TermLabel(kLeaseTerm), lease.Text());
        return false;
    }

    // 9. A lease that is not ending keeps no notice date or termination reason.
    if (!beingTerminated && st >= 1 && st <= 3) {
        const Field notice = field(kLfNotice), termReason = field(kLfTermReason);
        if (!IsUnsetDate(notice.Date())) {
            messages.push_back(Msg(12457, "Notice date", DateText(notice.Date()), wasNot(), TermLabel(kLeaseTerm),
                                   converting ? "1115" : "1116"));
            notice.Clear();
        }
        if (termReason.Number() != 1) {
            messages.push_back(Msg(12457, "Termination Reason", WholeText(termReason.Number()), wasNot(),
                                   TermLabel(kLeaseTerm), converting ? "1115" : "1116"));
            termReason.Put(1.0);
        }
    }

    // 10. The balance accumulates from transactions.
    const Field balance = field(kLfBalance);
    if (!IsZero(balance.Number())) {
        messages.push_back(Msg(12458, FormatNumber("%.2f", balance.Number() / 100.0), LeaseKeyLabel(), leaseText,
                               wasNot(), converting ? "1117" : "1118"));
        balance.Put(0.0);
    }

    // 11. Intended dates in the wrong order are noted and kept.
    const x_date_type start = GetDate(pml, no[kLfStart]), end = GetDate(pml, no[kLfEnd]);
    if (!IsUnsetDate(start) && !IsUnsetDate(end) && suite::xd_compare_dates(start, end) > 0)
        messages.push_back(Msg(12459, DateText(start), DateText(end)));

    // 12. A billing address only for balance-forward statements.
    const Field billing = field(kLfBilling);
    if (!xio_get_text(pml, billing.no).empty()) {
        if (xio_get_number(pml, no[kLfStatementType]) == 1) {
            messages.push_back(Msg(12461, billing.Text(), wasNot(), converting ? "1122" : "1123"));
            billing.Clear();
        } else {
            std::string value = billing.Text();
            if (m_list421.Spelling(value)) billing.Put(value);
        }
    }

    // 13. The interest and refund tenants default to the lease's tenant.
    for (const LeaseField name : {kLfInterest, kLfRefund}) {
        const Field other = field(name);
        if (xio_get_text(pml, other.no).empty()) {
            other.Put(xio_get_text(pml, tenant.no));
            continue;
        }
        const Found found = TenantOnFile(pmn, other.Text(), scope);
        if (!found) {
            reason = Msg(12449, other.Label(), other.Text());
            return false;
        }
        if (found.where == Found::OnFile) other.Put(found.stored[0]);
    }

    // 14. Their address types default to the address-type list's first entry.
    for (const LeaseField name : {kLfInterestType, kLfRefundType}) {
        const Field type = field(name);
        if (xio_get_text(pml, type.no).empty()) {
            type.Put(m_list421Default);
            continue;
        }
        std::string value = type.Text();
        if (m_list421.Spelling(value)) type.Put(value);
    }

    // 15. The period end date is the property's.
    const Field periodEndField = field(kLfPeriodEnd);
    const x_date_type given = periodEndField.Date();
    if (!IsUnsetDate(given) && suite::xd_compare_dates(given, periodEnd) != 0) {
        messages.push_back(Msg(12462, periodEndField.Label(), DateText(given), ModeWord("was/will be", converting),
                               DateText(periodEnd), TermLabel(kPropertyTerm), converting ? "1124" : "1125"));
        PutDate(pml, periodEndField.no, periodEnd);
    }

    // 16, 17. Corporation and SIC code, when given.
    const std::pair<LeaseField, std::pair<uint16_t, std::pair<const char*, int>>> systemKeys[] = {
        {kLfCorporation, {kPmsCorporation, {"CORPID", kCorporationTerm}}},
        {kLfSic, {kPmsSicCode, {"SICCODE", kSicCodeTerm}}}};
    for (const auto& [name, target] : systemKeys) {
        const Field f = field(name);
        if (xio_get_text(pml, f.no).empty()) continue;
        const auto& [rec, keyAndTerm] = target;
        const Found found = FindRecord(pms, rec, {{keyAndTerm.first, f.Text()}}, scope);
        if (!found) {
            reason = Msg(12474, TermLabel(keyAndTerm.second), f.Text(), TermLabel(keyAndTerm.second));
            return false;
        }
        if (found.where == Found::OnFile) f.Put(found.stored[0]);
    }

    // 18. The business category takes the list's spelling.
    const Field category = field(kLfCategory);
    if (!xio_get_text(pml, category.no).empty()) {
        std::string value = category.Text();
        if (m_list428.Spelling(value)) category.Put(value);
    }

    // 19. The combined lease and revision.
    PutText(pml, no[kLfCombined], leaseText);
    return true;
}

const convert::FieldNumbers<kLeaseFields>& xvPML::LeaseFields(uint16_t pml) {
    if (m_leaseFieldsFor != pml) {
        m_leaseFields.Resolve(pml, kPmlLease, kLeaseFieldNames);
        m_leaseFieldsFor = pml;
    }
    return m_leaseFields;
}

const xvPML::PropertyFacts& xvPML::LeaseProperty(uint16_t pmp, const std::string& property) {
    if (const auto it = m_properties.find(property); it != m_properties.end()) return it->second;
    PropertyFacts facts;
    if (const Found found = FindProperty(pmp, property, {nullptr, true})) {
        facts.stored = found.stored[0];
        facts.periodEnd = GetDate(pmp, 1, "PPEREND");
    }
    return m_properties.emplace(property, std::move(facts)).first->second;
}

Found xvPML::TenantOnFile(uint16_t pmn, const std::string& tenant, const LookupScope& scope) {
    if (const TenantKnown* known = m_tenantsOnFile.find(tenant)) {
        Found found;
        found.where = Found::OnFile;
        found.stored = {known->stored};
        return found;
    }
    Found found = FindTenant(pmn, tenant, scope);
    if (found.where == Found::OnFile)
        m_tenantsOnFile.emplace(tenant, TenantKnown{found.stored[0], scope.converting ? FactNumber(found.stored[0]) : 0});
    return found;
}

// ---- Calculation methods and CPI indexes -------------------------------------------------------------------

bool xvPML::ConvertCalcMethod(uint16_t pms, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&, bool) {
    const Field id(pms, kPmsCalcMethod, "CMID");
    if (id.Text().empty()) {
        reason = Msg(12445, id.Label());
        return false;
    }
    const std::string design = GetText(pms, kPmsCalcMethod, "CMINVD");
    if (!design.empty() && xvl::xvlValidateDesignName(design) == 0) {
        reason = Msg(12447, design);
        return false;
    }
    return true;
}

bool xvPML::ConvertCpiIndex(uint16_t pms, xvl::xvlImpInfo&, std::string& reason, convert::MessageList&, bool) {
    const Field id(pms, kPmsCpiIndex, "CPIID"), date(pms, kPmsCpiIndex, "CPIDATE");
    if (id.Text().empty()) {
        reason = Msg(12445, id.Label());
        return false;
    }
    if (IsUnsetDate(date.Date())) {
        reason = Msg(12446, date.Label(), "CPI index ID", id.Text());
        return false;
    }
    return true;
}

}  // namespace dz::pm
